// A COM reference held by a test: released when it goes.
#pragma once

namespace zyn::test {

// Holds one COM reference and releases it.
template <typename Interface> class Ref {
public:
    Ref() = default;
    explicit Ref(Interface* pointer) : pointer_(pointer) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Reset(); }
    void Reset() {
        if (pointer_)
            pointer_->Release();
        pointer_ = nullptr;
    }
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    Interface** Out() {
        Reset();
        return &pointer_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

private:
    Interface* pointer_ = nullptr;
};

} // namespace zyn::test
