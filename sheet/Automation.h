#pragma once
// Late-bound automation: objects whose members are looked up by name and invoked with
// positional Variant arguments, and a registry of automation classes by name that can
// hand out the running instance of a class or create a new one.
//
// The spreadsheet bridge talks to the spreadsheet application only through this layer,
// so any component that answers the same member names can stand in for it: the native
// workbook engine in production, scripted instances in the tests.

#include <memory>
#include <string>
#include <vector>

#include "platform/Exception.h"
#include "platform/Variant.h"

namespace sheet {

// A failed name lookup or a failed call. The message is the text shown to the user.
class AutomationError : public Exception {
 public:
  using Exception::Exception;
};

using VariantArgs = std::vector<Variant>;

// An object reached by automation. Member names are case-insensitive.
class AutomationObject : public IDispatch {
 public:
  // Property read.
  virtual Variant Get(const std::string& name, const VariantArgs& args) = 0;
  // Method call; a method without result returns Empty.
  virtual Variant Call(const std::string& name, const VariantArgs& args) = 0;
};

// A class of automation objects, registered under a name such as "Excel.Application".
class AutomationClass {
 public:
  virtual ~AutomationClass() = default;
  // The instance that is already running; raises AutomationError when there is none.
  virtual std::shared_ptr<AutomationObject> GetRunningInstance() = 0;
  // A new instance; raises AutomationError when it cannot be started.
  virtual std::shared_ptr<AutomationObject> CreateInstance() = 0;
};

// Registers `cls` under `name` (case-insensitive), replacing an earlier registration.
// Returns the class that was registered before, or nullptr.
std::shared_ptr<AutomationClass> RegisterAutomationClass(const std::string& name,
                                                         std::shared_ptr<AutomationClass> cls);
// Removes the registration; returns the class that was registered, or nullptr.
std::shared_ptr<AutomationClass> UnregisterAutomationClass(const std::string& name);
// The class registered under `name`, or nullptr. "Excel.Application" falls back to the
// native workbook engine when nothing is registered under that name.
std::shared_ptr<AutomationClass> FindAutomationClass(const std::string& name);

// Registers a class for the lifetime of the object and restores the earlier one after.
class ScopedAutomationClass {
 public:
  ScopedAutomationClass(std::string name, std::shared_ptr<AutomationClass> cls);
  ~ScopedAutomationClass();
  ScopedAutomationClass(const ScopedAutomationClass&) = delete;
  ScopedAutomationClass& operator=(const ScopedAutomationClass&) = delete;

 private:
  std::string name_;
  std::shared_ptr<AutomationClass> previous_;
};

// The running instance of the class `name` as a varDispatch variant.
Variant GetActiveOleObject(const std::string& name);
// A new instance of the class `name` as a varDispatch variant.
Variant CreateOleObject(const std::string& name);

// Late-bound calls on a variant that holds an automation object. A variant that holds
// none raises AutomationError.
Variant OleGet(const Variant& object, const std::string& name, const VariantArgs& args = {});
Variant OleCall(const Variant& object, const std::string& name, const VariantArgs& args = {});

// Conversions of automation results.
// Integral and floating types (rounded half to even, as automation does), booleans and
// numeric strings; anything else raises AutomationError.
std::int32_t VariantToInt32(const Variant& value);
// Text of strings, numbers, booleans; "" for Empty and Null.
std::string VariantToText(const Variant& value);

// Helpers for implementers of AutomationObject.
bool SameMemberName(const std::string& a, const char* b);  // ASCII case-insensitive
AutomationError UnknownMember(const std::string& name);
AutomationError WrongArgumentCount(const std::string& name);
// The text of a string argument; raises AutomationError for other types.
std::string ArgText(const std::string& member, const Variant& value);

}  // namespace sheet
