#include "platform/shared_lock.h"

namespace tavrin {

void SharedLock::beginWrite() { mutex_.lock(); }
void SharedLock::endWrite() { mutex_.unlock(); }
void SharedLock::beginRead() { mutex_.lock_shared(); }
void SharedLock::endRead() { mutex_.unlock_shared(); }

WriteGuard::WriteGuard(SharedLock& lock) : lock_(lock) { lock_.beginWrite(); }
WriteGuard::~WriteGuard() { lock_.endWrite(); }

ReadGuard::ReadGuard(SharedLock& lock) : lock_(lock) { lock_.beginRead(); }
ReadGuard::~ReadGuard() { lock_.endRead(); }

}  // namespace tavrin
