#pragma once
// An OLE-style variant: a 16-bit type word and a value. The conversion library and
// the record model switch on the whole type word, so array and by-reference flags are
// kept even though this platform never fills such values.

#include <cstdint>
#include <memory>
#include <string>

using TDateTime = double;  // days since 1899-12-30; the fraction is the time of day

enum : std::uint16_t {
  varEmpty = 0,
  varNull = 1,
  varSmallint = 2,
  varInteger = 3,
  varSingle = 4,
  varDouble = 5,
  varCurrency = 6,
  varDate = 7,
  varOleStr = 8,
  varDispatch = 9,
  varError = 10,
  varBoolean = 11,
  varVariant = 12,
  varUnknown = 13,
  varShortInt = 16,
  varByte = 17,
  varString = 256,
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
  varByRef = 0x4000,
};

// Base of objects that a variant of type varDispatch or varUnknown refers to. Copies
// of such a variant share the object, as copies of an interface reference do.
class IDispatch {
 public:
  virtual ~IDispatch() = default;
};

class Variant {
 public:
  Variant() = default;                                                       // Empty
  Variant(int value) : type_(varInteger), int_(value) {}                     // NOLINT
  Variant(double value) : type_(varDouble), double_(value) {}                // NOLINT
  Variant(bool value) : type_(varBoolean), int_(value ? -1 : 0) {}           // NOLINT
  Variant(std::string value) : type_(varString), text_(std::move(value)) {}  // NOLINT
  Variant(const char* value) : type_(varString), text_(value) {}             // NOLINT
  Variant(std::shared_ptr<IDispatch> object)                                 // NOLINT
      : type_(varDispatch), object_(std::move(object)) {}

  static Variant Empty() { return Variant(); }
  static Variant Null() { return Raw(varNull); }
  static Variant Smallint(std::int16_t v) { return Integral(varSmallint, v); }
  static Variant Integer(std::int32_t v) { return Integral(varInteger, v); }
  static Variant Single(float v) { return Floating(varSingle, v); }
  static Variant Double(double v) { return Floating(varDouble, v); }
  // Currency is a 64-bit integer scaled by 10000; the value given is rounded to it.
  static Variant Currency(double v);
  static Variant Date(TDateTime v) { return Floating(varDate, v); }
  static Variant Boolean(bool v) { return Integral(varBoolean, v ? -1 : 0); }
  static Variant ShortInt(std::int8_t v) { return Integral(varShortInt, v); }
  static Variant Byte(std::uint8_t v) { return Integral(varByte, v); }
  static Variant String(std::string v) { return Variant(std::move(v)); }
  static Variant OleStr(std::string v);  // a wide string; held as UTF-8
  static Variant Error(std::int32_t scode) { return Integral(varError, scode); }
  static Variant Dispatch(std::shared_ptr<IDispatch> object) { return Variant(std::move(object)); }
  // A variant with the given type word and no meaningful value (arrays, references,
  // codes without a payload).
  static Variant Raw(std::uint16_t type) {
    Variant v;
    v.type_ = type;
    return v;
  }

  std::uint16_t VType() const { return type_; }
  bool IsNull() const { return type_ == varNull; }
  bool IsEmpty() const { return type_ == varEmpty; }

  // Raw payload access; which one is meaningful depends on VType().
  // Integral types (2, 3, 10, 11, 16, 17) and currency (scaled by 10000).
  std::int64_t IntValue() const { return int_; }
  // varSingle, varDouble, varDate; currency as its double value.
  double DoubleValue() const;
  bool BoolValue() const { return int_ != 0; }
  // varString and varOleStr text, UTF-8.
  const std::string& Text() const { return text_; }
  std::string& MutableText() { return text_; }
  const std::shared_ptr<IDispatch>& Object() const { return object_; }

  // Same type word and equal value; strings compare byte for byte.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  static Variant Integral(std::uint16_t type, std::int64_t v) {
    Variant r;
    r.type_ = type;
    r.int_ = v;
    return r;
  }
  static Variant Floating(std::uint16_t type, double v) {
    Variant r;
    r.type_ = type;
    r.double_ = v;
    return r;
  }

  std::uint16_t type_ = varEmpty;
  std::int64_t int_ = 0;
  double double_ = 0.0;
  std::string text_;
  std::shared_ptr<IDispatch> object_;
};
