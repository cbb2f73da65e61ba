#pragma once
// One slot for a replaceable service: the system's own instance, made on first
// use, unless a stand-in was put in place (a test's, not owned). Each service
// keeps one slot behind its accessor and its setter.
namespace Platform {

template <class Interface, class System>
class TServiceSlot {
 public:
  Interface& Get() {
    if (standIn_) return *standIn_;
    static System system;
    return system;
  }
  // nullptr restores the system's instance.
  void Set(Interface* standIn) { standIn_ = standIn; }

 private:
  Interface* standIn_ = nullptr;
};

}  // namespace Platform
