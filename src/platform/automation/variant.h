#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace dovel::platform::automation {

class Dispatch;
class Variant;

// The empty variant: a value never assigned.
struct Empty {
  friend bool operator==(Empty, Empty) { return true; }
};

// The marker for an optional argument left out (an error variant holding
// DISP_E_PARAMNOTFOUND).
struct Missing {
  static constexpr std::uint32_t kCode = 0x80020004u;
  friend bool operator==(Missing, Missing) { return true; }
};

// An automation date: days since 1899-12-30, the fraction being the time of
// day. A pure date has no fraction; a pure time of day has no whole days.
struct Date {
  double value = 0.0;
  friend bool operator==(Date, Date) = default;
};

// A 16-bit integer passed by reference: the callee sees the caller's variable.
struct Int16Ref {
  std::int16_t* target = nullptr;
  friend bool operator==(Int16Ref, Int16Ref) = default;
};

// A one-dimensional array of bytes with its lower bound.
struct ByteArray {
  std::int32_t lower_bound = 0;
  std::vector<std::uint8_t> bytes;
  std::int32_t UpperBound() const { return lower_bound + static_cast<std::int32_t>(bytes.size()) - 1; }
  friend bool operator==(const ByteArray&, const ByteArray&) = default;
};

// A one-dimensional array of variants with its lower bound.
struct VariantArray {
  std::int32_t lower_bound = 0;
  std::vector<Variant> elements;
  // Defined after Variant: the vector's size needs the complete element type.
  std::int32_t UpperBound() const;
  friend bool operator==(const VariantArray&, const VariantArray&);
};

using ObjectRef = std::shared_ptr<Dispatch>;

// The automation variant: the value type of late-bound calls and of a
// message's data. Booleans are kept as bool here and become 0 / -1 when
// stored or passed on the wire.
class Variant {
 public:
  using Value = std::variant<Empty, Missing, std::int16_t, Int16Ref, std::int32_t, double, Date, std::u16string, bool,
                             ByteArray, VariantArray, ObjectRef>;

  Variant() = default;
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, Variant> && std::is_constructible_v<Value, T>)
  Variant(T value) : value_(std::move(value)) {}  // NOLINT: implicit like the automation type
  Variant(const char16_t* text) : value_(std::u16string(text)) {}

  template <class T>
  bool Is() const {
    return std::holds_alternative<T>(value_);
  }
  template <class T>
  const T& As() const {
    return std::get<T>(value_);
  }
  template <class T>
  T& As() {
    return std::get<T>(value_);
  }
  const Value& value() const { return value_; }

  bool IsArray() const { return Is<ByteArray>() || Is<VariantArray>(); }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  Value value_;
};

inline std::int32_t VariantArray::UpperBound() const {
  return lower_bound + static_cast<std::int32_t>(elements.size()) - 1;
}

inline bool operator==(const VariantArray& a, const VariantArray& b) {
  return a.lower_bound == b.lower_bound && a.elements == b.elements;
}

}  // namespace dovel::platform::automation
