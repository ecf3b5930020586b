#include "json/json_support_script.h"

namespace tavrin {
namespace {

// JSON's pieces for an engine that lacks them, inside one strict-mode
// function; each is defined only when missing. Adjacent literals: the text is
// a single line.
const char kFillIns[] =
    R"JS((function(){'use strict';)JS"
    R"JS(function two(n){return n<10?'0'+n:n})JS"
    R"JS(function plain(){return this.valueOf()})JS"
    R"JS(if(typeof Date.prototype.toJSON!=='function'){)JS"
    R"JS(Date.prototype.toJSON=function(){return isFinite(this.valueOf())?this.getUTCFullYear()+'-'+two(this.getUTCMonth()+1)+'-'+two(this.getUTCDate())+'T'+two(this.getUTCHours())+':'+two(this.getUTCMinutes())+':'+two(this.getUTCSeconds())+'Z':null};)JS"
    R"JS(String.prototype.toJSON=plain;Number.prototype.toJSON=plain;Boolean.prototype.toJSON=plain})JS"
    R"JS(var escapable=/[\\"\u0000-\u001f\u007f-\u009f\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)JS"
    R"JS(hidden=/[\u0000\u00ad\u0600-\u0604\u070f\u17b4\u17b5\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g,)JS"
    R"JS(meta={'\b':'\\b','\t':'\\t','\n':'\\n','\f':'\\f','\r':'\\r','"':'\\"','\\':'\\\\'},gap,indent,rep;)JS"
    R"JS(function hex(a){return '\\u'+('0000'+a.charCodeAt(0).toString(16)).slice(-4)})JS"
    R"JS(function quote(s){escapable.lastIndex=0;return escapable.test(s)?'"'+s.replace(escapable,function(a){var c=meta[a];return typeof c==='string'?c:hex(a)})+'"':'"'+s+'"'})JS"
    R"JS(function wrap(parts,open,close,mind){return parts.length===0?open+close:gap?open+'\n'+gap+parts.join(',\n'+gap)+'\n'+mind+close:open+parts.join(',')+close})JS"
    R"JS(function str(key,holder){var i,k,v,mind=gap,parts=[],value=holder[key];)JS"
    R"JS(if(value&&typeof value==='object'&&typeof value.toJSON==='function'){value=value.toJSON(key)})JS"
    R"JS(if(typeof rep==='function'){value=rep.call(holder,key,value)})JS"
    R"JS(switch(typeof value){case 'string':return quote(value);case 'number':return isFinite(value)?String(value):'null';case 'boolean':return String(value);case 'object':break;default:return undefined})JS"
    R"JS(if(!value){return 'null'}gap+=indent;)JS"
    R"JS(if(Object.prototype.toString.apply(value)==='[object Array]'){for(i=0;i<value.length;i+=1){parts[i]=str(i,value)||'null'}v=wrap(parts,'[',']',mind);gap=mind;return v})JS"
    R"JS(if(rep&&typeof rep==='object'){for(i=0;i<rep.length;i+=1){if(typeof rep[i]==='string'){k=rep[i];v=str(k,value);if(v){parts.push(quote(k)+(gap?': ':':')+v)}}}})JS"
    R"JS(else{for(k in value){if(Object.prototype.hasOwnProperty.call(value,k)){v=str(k,value);if(v){parts.push(quote(k)+(gap?': ':':')+v)}}}})JS"
    R"JS(v=wrap(parts,'{','}',mind);gap=mind;return v})JS"
    R"JS(if(typeof JSON.stringify!=='function'){JSON.stringify=function(value,replacer,space){var i;gap='';indent='';)JS"
    R"JS(if(typeof space==='number'){for(i=0;i<space;i+=1){indent+=' '}}else if(typeof space==='string'){indent=space})JS"
    R"JS(rep=replacer;if(replacer&&typeof replacer!=='function'&&(typeof replacer!=='object'||typeof replacer.length!=='number')){throw new Error('JSON.stringify')})JS"
    R"JS(return str('',{'':value})}})JS"
    R"JS(if(typeof JSON.parse!=='function'){JSON.parse=function(text,reviver){var j;)JS"
    R"JS(function walk(holder,key){var k,v,value=holder[key];if(value&&typeof value==='object'){for(k in value){if(Object.prototype.hasOwnProperty.call(value,k)){v=walk(value,k);if(v!==undefined){value[k]=v}else{delete value[k]}}}}return reviver.call(holder,key,value)})JS"
    R"JS(text=String(text);hidden.lastIndex=0;if(hidden.test(text)){text=text.replace(hidden,hex)})JS"
    R"JS(if(/^[\],:{}\s]*$/.test(text.replace(/\\(?:["\\\/bfnrt]|u[0-9a-fA-F]{4})/g,'@').replace(/"[^"\\\n\r]*"|true|false|null|-?\d+(?:\.\d*)?(?:[eE][+\-]?\d+)?/g,']').replace(/(?:^|:|,)(?:\s*\[)+/g,''))){)JS"
    R"JS(j=eval('('+text+')');return typeof reviver==='function'?walk({'':j},''):j})JS"
    R"JS(throw new SyntaxError('JSON.parse')}})JS"
    R"JS(}());)JS";

// The text as a single-quoted script string.
std::string quoted(const std::string& script) {
  std::string out = "'";
  for (char c : script) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out + "'";
}

std::string buildSupportScript() {
  return std::string("function get__count(c){var i=-2;for(v in c)i++;return i}")
         + "if(typeof JSON!=='object'){JSON={}}"
         // The fill-ins are compiled only when a piece is missing: compiling
         // them costs more than creating the engine, and an engine with a
         // native JSON never needs them.
         + "if(typeof Date.prototype.toJSON!=='function'||typeof JSON.stringify!=='function'||"
           "typeof JSON.parse!=='function'){eval(" + quoted(kFillIns) + ")}"
         + "(function(){'use strict';"
           "if(typeof Object.prototype.toJSONString!=='function'){"
           "Object.prototype.toJSONString=function(filter){return JSON.stringify(this,filter)};"
           "Object.prototype.parseJSON=function(filter){return JSON.parse(this,filter)}}"
           "}());";
}

}  // namespace

const std::string& jsonSupportScript() {
  static const std::string script = buildSupportScript();
  return script;
}

}  // namespace tavrin
