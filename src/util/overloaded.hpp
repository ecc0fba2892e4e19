// A visitor of one overload per alternative: std::visit(Overloaded{[](const A&) {...},
// [](const B&) {...}}, v). Written without a catch-all, a new alternative fails to compile
// wherever it is not handled.
#pragma once

namespace zelvane::util {

template <class... Fs>
struct Overloaded : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace zelvane::util
