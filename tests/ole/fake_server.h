// Test helpers: the shared error recorder, and a small dispatch server whose members are lambdas,
// recording every invoke it receives.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../support/error_recorder.h"
#include "ole/ole.h"

class FakeServer : public ole::DispatchInterface {
 public:
  using Body = std::function<ole::HResult(unsigned kind, std::vector<ole::Variant>& args, ole::Variant& result,
                                          ole::ExcepInfo& excep)>;
  struct Call {
    ole::DispId id;
    unsigned kind;
    std::vector<ole::Variant> args;
  };

  void add(const std::string& name, ole::DispId id, Body body) {
    ids_[rt::toUpper(name)] = id;
    bodies_[id] = std::move(body);
  }
  ole::HResult GetIDsOfNames(std::string_view name, ole::DispId& id) override {
    ++lookups;
    auto it = ids_.find(rt::toUpper(name));
    if (it == ids_.end()) return ole::DISP_E_UNKNOWNNAME;
    id = it->second;
    return ole::S_OK;
  }
  ole::HResult Invoke(ole::DispId id, unsigned kind, std::vector<ole::Variant>& args, ole::Variant& result,
                      ole::ExcepInfo& excep) override {
    calls.push_back({id, kind, args});
    auto it = bodies_.find(id);
    if (it == bodies_.end()) return ole::DISP_E_MEMBERNOTFOUND;
    return it->second(kind, args, result, excep);
  }
  const void* nameScope() const override { return scope; }
  std::vector<Call> calls;
  int lookups = 0;              // GetIDsOfNames calls
  const void* scope = nullptr;  // the name scope the server answers
  ~FakeServer() override {
    if (destroyed) *destroyed = true;
  }
  bool* destroyed = nullptr;

 private:
  std::map<std::string, ole::DispId> ids_;
  std::map<ole::DispId, Body> bodies_;
};
