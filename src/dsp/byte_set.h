// A set of the members of a small enumeration (at most 8), held in one byte:
// bit n stands for member n. The character flags, the message types a JSON
// client asks for and a mouse event's keys and buttons are such sets.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace brenvo {

template <class E>
struct TByteSet {
  uint8_t Bits = 0;

  TByteSet() = default;
  TByteSet(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  bool Has(E m) const { return (Bits >> m) & 1u; }
  void Include(E m) { Bits = static_cast<uint8_t>(Bits | (1u << m)); }
  void Exclude(E m) { Bits = static_cast<uint8_t>(Bits & ~(1u << m)); }
  bool Empty() const { return Bits == 0; }
  bool operator==(const TByteSet&) const = default;
};

}  // namespace brenvo
