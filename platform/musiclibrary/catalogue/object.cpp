#include "object.h"

namespace kestrane::musiclibrary {

Handle Object::handle() const {
    Handle h = handle_.load(std::memory_order_acquire);
    if (h != 0) return h;
    HandleTable& table = HandleTable::instance();
    const Handle made = table.issue(const_cast<Object*>(this), kind_);
    if (made == 0) return 0;
    if (handle_.compare_exchange_strong(h, made, std::memory_order_acq_rel)) return made;
    table.revoke(made, kind_);  // another thread gave the object its handle first
    return h;
}

void Object::revokeHandle() const {
    if (const Handle h = handle_.load(std::memory_order_acquire)) HandleTable::instance().revoke(h, kind_);
}

namespace {

// The one object a thread has handed out last, with a reference, until the next one comes or
// the thread ends.
class ReleaseScope {
public:
    ~ReleaseScope() {
        if (held_ != nullptr) held_->release();
    }
    void hold(Object* object) {
        if (object == held_) return;
        if (object != nullptr) object->retain();
        if (held_ != nullptr) held_->release();
        held_ = object;
    }

private:
    Object* held_ = nullptr;
};

}  // namespace

Object* handOut(Object* object) {
    thread_local ReleaseScope scope;
    scope.hold(object);
    return object;
}

}  // namespace kestrane::musiclibrary
