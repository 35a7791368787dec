// Makes a run state the innermost one of its pump or loop for a scope, and gives the outer one
// back at the end of the scope, also when an exception passes (nested runs depend on it).
#pragma once

namespace Thread {

template <class State>
class CScopedRunState {
 public:
  CScopedRunState(State*& innermost, State* state) : innermost_(innermost), outer_(innermost) {
    innermost_ = state;
  }
  ~CScopedRunState() { innermost_ = outer_; }
  CScopedRunState(const CScopedRunState&) = delete;
  CScopedRunState& operator=(const CScopedRunState&) = delete;

 private:
  State*& innermost_;
  State* const outer_;
};

}  // namespace Thread
