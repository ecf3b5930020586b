#include "platform/key_value_json.h"

#include <rapidjson/encodings.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cstdint>

#include "platform/code_point.h"

namespace tavrin {
namespace {

bool isGbkPair(unsigned char lead, unsigned char trail) {
  return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// RapidJSON encodings for GBK texts. JSON texts here are GBK too: a
// two-byte character is one unit whose second byte may be a backslash and must
// then be neither escaped on writing nor taken for an escape on reading.
// The reader and the plain writer go from GbkUnits to GbkBytes: a unit is
// carried through as its raw bytes (tagged, never a code point), so stray
// bytes that are neither GBK nor UTF-8 pass unchanged too. Only a \u escape
// brings a real code point, written as the GBK bytes of its character.
constexpr unsigned kRawUnit = 0x80000000u;
constexpr unsigned kTwoBytes = 0x10000u;

struct GbkBytes {
  using Ch = char;
  enum { supportUnicode = 1 };

  template <typename OutputStream>
  static void Encode(OutputStream& os, unsigned unit) {
    if ((unit & kRawUnit) == 0) {
      for (char c : codePointToGbk(unit)) os.Put(c);
    } else if (unit & kTwoBytes) {
      os.Put(static_cast<char>((unit >> 8) & 0xFF));
      os.Put(static_cast<char>(unit & 0xFF));
    } else {
      os.Put(static_cast<char>(unit & 0xFF));
    }
  }

  template <typename OutputStream>
  static void EncodeUnsafe(OutputStream& os, unsigned unit) {
    Encode(os, unit);
  }
};

// RapidJSON wants Encode and Validate of a source encoding as well, for
// in-place parsing, which is not used here.
struct GbkUnits : GbkBytes {
  template <typename InputStream>
  static bool Decode(InputStream& is, unsigned* unit) {
    auto lead = static_cast<unsigned char>(is.Take());
    if (lead < 0x80) {
      *unit = lead;
    } else if (isGbkPair(lead, static_cast<unsigned char>(is.Peek()))) {
      *unit = kRawUnit | kTwoBytes | (lead << 8) | static_cast<unsigned char>(is.Take());
    } else {
      *unit = kRawUnit | lead;
    }
    return true;
  }

  template <typename InputStream, typename OutputStream>
  static bool Validate(InputStream& is, OutputStream& os) {
    unsigned unit = 0;
    Decode(is, &unit);
    Encode(os, unit);
    return true;
  }
};

// For writing with every non-ASCII character as a \u escape: decodes GBK to
// code points; a byte that begins no GBK character becomes "?".
struct GbkCodePoints {
  using Ch = char;
  enum { supportUnicode = 1 };

  template <typename InputStream>
  static bool Decode(InputStream& is, unsigned* codePoint) {
    std::string character(1, is.Take());
    if (isGbkPair(static_cast<unsigned char>(character[0]), static_cast<unsigned char>(is.Peek()))) {
      character += is.Take();
    }
    *codePoint = gbkCharToCodePoint(character);
    return true;
  }
};

// The writer escapes a quote or a control character with a backslash, and
// a backslash is a valid second byte: behind a byte that begins no GBK
// character (so the writer takes it alone), the reader would pair the two
// and end the string early or mangle it. Such a byte is written as "?".
// Pairs are decided as GbkUnits::Decode decides them.
bool isLoneLeadBeforeEscape(unsigned char lead, unsigned char next) {
  return lead >= 0x81 && lead <= 0xFE && (next == '"' || next < 0x20);
}

// The text itself, or `rewritten` holding it with such bytes replaced.
const std::string& writableText(const std::string& text, std::string& rewritten) {
  bool changed = false;
  for (size_t at = 0; at + 1 < text.size(); ++at) {
    auto lead = static_cast<unsigned char>(text[at]);
    auto next = static_cast<unsigned char>(text[at + 1]);
    if (isGbkPair(lead, next)) {
      ++at;
    } else if (isLoneLeadBeforeEscape(lead, next)) {
      if (!changed) rewritten = text;
      changed = true;
      rewritten[at] = '?';
    }
  }
  return changed ? rewritten : text;
}

rapidjson::SizeType sizeOf(const std::string& text) {
  return static_cast<rapidjson::SizeType>(text.size());
}

template <typename Writer, typename Emit>
std::string render(Emit emit) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  emit(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

template <typename Emit>
std::string renderWith(bool pretty, bool escapeNonAscii, Emit emit) {
  using rapidjson::ASCII;
  using rapidjson::PrettyWriter;
  using rapidjson::StringBuffer;
  using rapidjson::Writer;
  if (pretty) {
    return escapeNonAscii ? render<PrettyWriter<StringBuffer, GbkCodePoints, ASCII<>>>(emit)
                          : render<PrettyWriter<StringBuffer, GbkUnits, GbkBytes>>(emit);
  }
  return escapeNonAscii ? render<Writer<StringBuffer, GbkCodePoints, ASCII<>>>(emit)
                        : render<Writer<StringBuffer, GbkUnits, GbkBytes>>(emit);
}

// A whole number that fits 64 bits becomes an integer; any other number
// keeps its JSON spelling as a text rather than losing digits.
KeyValue numberValue(const std::string& spelling) {
  if (spelling.find_first_of(".eE") == std::string::npos) {
    std::int64_t integer = 0;
    const char* end = spelling.data() + spelling.size();
    auto result = std::from_chars(spelling.data(), end, integer);
    if (result.ec == std::errc() && result.ptr == end) return KeyValue(integer);
  }
  return KeyValue(spelling);
}

}  // namespace

// Builds the map from RapidJSON's events; nesting is bounded so that a
// hostile text cannot exhaust the stack when the result is copied or freed.
class JsonMapBuilder {
 public:
  using Ch = char;
  using SizeType = rapidjson::SizeType;

  bool Null() { return add(KeyValue(std::string())); }
  bool Bool(bool boolean) { return add(KeyValue(boolean)); }
  // Numbers arrive as RawNumber (kParseNumbersAsStringsFlag).
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(std::int64_t) { return false; }
  bool Uint64(std::uint64_t) { return false; }
  bool Double(double) { return false; }
  bool RawNumber(const Ch* text, SizeType length, bool) {
    return add(numberValue(std::string(text, length)));
  }
  bool String(const Ch* text, SizeType length, bool) {
    return add(KeyValue(std::string(text, length)));
  }
  bool StartObject() { return open(true); }
  bool Key(const Ch* text, SizeType length, bool) {
    frames_.back().key.assign(text, length);
    return true;
  }
  bool EndObject(SizeType) {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(KeyValueJson::mapValue(std::move(frame.map)));
  }
  bool StartArray() { return open(false); }
  bool EndArray(SizeType) {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(KeyValue::listOf(std::move(frame.items)));
  }

  bool done() const { return done_; }
  KeyValueMap& result() { return result_; }

 private:
  struct Frame {
    bool isObject = false;
    KeyValueMap map;
    std::vector<KeyValue> items;
    std::string key;
  };

  bool open(bool isObject) {
    if (frames_.size() >= static_cast<size_t>(KeyValueMap::kMaxJsonDepth)) return false;
    frames_.emplace_back();
    frames_.back().isObject = isObject;
    return true;
  }

  bool add(KeyValue value) {
    if (frames_.empty()) {
      if (value.kind() != KeyValue::Kind::Map) return false;
      result_ = KeyValueJson::takeMap(value);
      done_ = true;
      return true;
    }
    Frame& top = frames_.back();
    if (top.isObject) {
      KeyValueJson::putMember(top.map, top.key, std::move(value));
    } else {
      top.items.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Frame> frames_;
  KeyValueMap result_;
  bool done_ = false;
};

KeyValue KeyValueJson::mapValue(KeyValueMap map) {
  KeyValue value;
  value.kind_ = KeyValue::Kind::Map;
  value.map_ = std::make_unique<KeyValueMap>(std::move(map));
  return value;
}

KeyValueMap KeyValueJson::takeMap(KeyValue& value) {
  return value.map_ ? std::move(*value.map_) : KeyValueMap();
}

void KeyValueJson::putMember(KeyValueMap& map, const std::string& key, KeyValue value) {
  map.put(key, std::move(value));
}

template <typename Writer>
void KeyValueJson::writeValue(Writer& writer, const KeyValue& value, int keyOrder) {
  switch (value.kind()) {
    case KeyValue::Kind::Text: {
      std::string rewritten;
      const std::string& text = writableText(value.text_, rewritten);
      writer.String(text.data(), sizeOf(text));
      break;
    }
    case KeyValue::Kind::Integer:
      writer.Int64(value.integer_);
      break;
    case KeyValue::Kind::Boolean:
      writer.Bool(value.integer_ != 0);
      break;
    case KeyValue::Kind::Map:
      writeMembers(writer, *value.map_, keyOrder);
      break;
    case KeyValue::Kind::List:
      writer.StartArray();
      for (const KeyValue& item : value.items_) writeValue(writer, item, keyOrder);
      writer.EndArray();
      break;
    case KeyValue::Kind::None:
      writer.Null();
      break;
  }
}

template <typename Writer>
void KeyValueJson::writeMembers(Writer& writer, const KeyValueMap& map, int keyOrder) {
  writer.StartObject();
  for (const KeyValuePair* pair : map.orderedPairs(keyOrder)) {
    std::string rewritten;
    const std::string& key = writableText(pair->first, rewritten);
    writer.Key(key.data(), sizeOf(key));
    writeValue(writer, pair->second, keyOrder);
  }
  writer.EndObject();
}

std::string KeyValueJson::write(const KeyValue& value, bool pretty, bool escapeNonAscii,
                                int keyOrder) {
  return renderWith(pretty, escapeNonAscii,
                    [&](auto& writer) { writeValue(writer, value, keyOrder); });
}

std::string KeyValueJson::writeMap(const KeyValueMap& map, bool pretty, bool escapeNonAscii,
                                   int keyOrder) {
  return renderWith(pretty, escapeNonAscii,
                    [&](auto& writer) { writeMembers(writer, map, keyOrder); });
}

bool KeyValueJson::parse(const std::string& json, KeyValueMap& out) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag;
  JsonMapBuilder builder;
  rapidjson::GenericReader<GbkUnits, GbkBytes> reader;
  rapidjson::MemoryStream stream(json.data(), json.size());
  reader.Parse<kFlags>(stream, builder);
  // The reader takes a zero byte for the end of the text: one inside the
  // text leaves the rest unread, which makes the text malformed.
  if (reader.HasParseError() || !builder.done() || stream.Tell() != json.size()) return false;
  out = std::move(builder.result());
  return true;
}

}  // namespace tavrin
