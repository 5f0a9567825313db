#pragma once

namespace quillet {

// One visitor for std::visit made of a lambda per alternative.
template <class... Visitors>
struct Overloaded : Visitors... {
  using Visitors::operator()...;
};
template <class... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

}  // namespace quillet
