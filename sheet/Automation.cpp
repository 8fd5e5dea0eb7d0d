#include "sheet/Automation.h"

#include <cmath>
#include <map>

#include "platform/Ascii.h"
#include "platform/NumberFormat.h"
#include "platform/Text.h"
#include "sheet/Engine.h"

namespace sheet {
namespace {

std::map<std::string, std::shared_ptr<AutomationClass>>& Registry() {
  static std::map<std::string, std::shared_ptr<AutomationClass>> registry;
  return registry;
}

std::shared_ptr<AutomationClass> RequireClass(const std::string& name) {
  auto cls = FindAutomationClass(name);
  if (!cls) throw AutomationError("Invalid class string: no automation class \"" + name + "\"");
  return cls;
}

AutomationObject& RequireObject(const Variant& object, const std::string& member) {
  if (object.VType() == varDispatch) {
    if (auto* target = dynamic_cast<AutomationObject*>(object.Object().get())) return *target;
  }
  throw AutomationError("No automation object to call \"" + member + "\" on");
}

}  // namespace

std::shared_ptr<AutomationClass> RegisterAutomationClass(const std::string& name,
                                                         std::shared_ptr<AutomationClass> cls) {
  auto& slot = Registry()[platform::AsciiUpper(name)];
  auto previous = std::move(slot);
  slot = std::move(cls);
  if (!slot) Registry().erase(platform::AsciiUpper(name));
  return previous;
}

std::shared_ptr<AutomationClass> UnregisterAutomationClass(const std::string& name) {
  auto& registry = Registry();
  auto it = registry.find(platform::AsciiUpper(name));
  if (it == registry.end()) return nullptr;
  auto previous = std::move(it->second);
  registry.erase(it);
  return previous;
}

std::shared_ptr<AutomationClass> FindAutomationClass(const std::string& name) {
  auto& registry = Registry();
  auto it = registry.find(platform::AsciiUpper(name));
  if (it != registry.end()) return it->second;
  if (SameMemberName(name, kNativeEngineClassName)) return NativeEngineClass();
  return nullptr;
}

ScopedAutomationClass::ScopedAutomationClass(std::string name, std::shared_ptr<AutomationClass> cls)
    : name_(std::move(name)), previous_(RegisterAutomationClass(name_, std::move(cls))) {}

ScopedAutomationClass::~ScopedAutomationClass() {
  RegisterAutomationClass(name_, std::move(previous_));
}

Variant GetActiveOleObject(const std::string& name) {
  auto object = RequireClass(name)->GetRunningInstance();
  if (!object) throw AutomationError("Operation unavailable: no running instance of " + name);
  return Variant::Dispatch(std::move(object));
}

Variant CreateOleObject(const std::string& name) {
  auto object = RequireClass(name)->CreateInstance();
  if (!object) throw AutomationError("Cannot create an instance of " + name);
  return Variant::Dispatch(std::move(object));
}

Variant OleGet(const Variant& object, const std::string& name, const VariantArgs& args) {
  return RequireObject(object, name).Get(name, args);
}

Variant OleCall(const Variant& object, const std::string& name, const VariantArgs& args) {
  return RequireObject(object, name).Call(name, args);
}

std::int32_t VariantToInt32(const Variant& value) {
  double number = 0.0;
  switch (value.VType()) {
    case varEmpty:
      return 0;
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varBoolean:
      number = static_cast<double>(value.IntValue());
      break;
    case varSingle:
    case varDouble:
    case varDate:
    case varCurrency:
      number = std::nearbyint(value.DoubleValue());
      break;
    case varString:
    case varOleStr: {
      std::int32_t parsed = 0;
      if (platform::TryStrToInt(platform::Trim(value.Text()), parsed)) return parsed;
      if (!platform::TryStrToFloat(value.Text(), number)) {
        throw AutomationError("Type mismatch: \"" + value.Text() + "\" is not a number");
      }
      number = std::nearbyint(number);
      break;
    }
    default:
      throw AutomationError("Type mismatch: the value is not a number");
  }
  if (!(number >= -2147483648.0 && number <= 2147483647.0)) {
    throw AutomationError("Overflow: the value does not fit a 32-bit integer");
  }
  return static_cast<std::int32_t>(number);
}

std::string VariantToText(const Variant& value) {
  switch (value.VType()) {
    case varString:
    case varOleStr:
      return value.Text();
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
      return platform::IntToStr(value.IntValue());
    case varSingle:
    case varDouble:
    case varDate:
    case varCurrency:
      return platform::FloatToStrGeneral(value.DoubleValue());
    case varBoolean:
      return value.BoolValue() ? "True" : "False";
    default:
      return "";
  }
}

bool SameMemberName(const std::string& a, const char* b) {
  return platform::AsciiUpper(a) == platform::AsciiUpper(b);
}

AutomationError UnknownMember(const std::string& name) {
  return AutomationError("Unknown name: the object has no member \"" + name + "\"");
}

AutomationError WrongArgumentCount(const std::string& name) {
  return AutomationError("Invalid number of parameters for \"" + name + "\"");
}

std::string ArgText(const std::string& member, const Variant& value) {
  if (value.VType() == varString || value.VType() == varOleStr) return value.Text();
  throw AutomationError("Type mismatch: \"" + member + "\" expects a text argument");
}

}  // namespace sheet
