// The stacks on which the parser gathers lists before it copies them into the tree. Copying
// each finished list at its exact size keeps the tree's memory to what the tree holds (paid
// for by the parse-only peak memory of bench/language.sh).
#pragma once

#include <span>
#include <vector>

#include "parser/arena.hpp"
#include "parser/node.hpp"

namespace kiln {

// A list as the parser gathers it. Its elements wait at the top of a stack of their kind
// and are copied into the tree at their exact size once the list is complete: a list grown
// in the tree's memory would leave its old storage behind there. Lists nest, and an inner
// list is complete before its outer list goes on, so each list is a run at the top of its
// stack; the run is cut off the stack when the Gather goes.
template <class T>
class Gather {
public:
    explicit Gather(std::vector<T>& stack) : stack_(stack), start_(stack.size()) {}
    ~Gather() { stack_.resize(start_); }
    Gather(const Gather&) = delete;
    Gather& operator=(const Gather&) = delete;

    void add(const T& item) { stack_.push_back(item); }
    std::size_t size() const { return stack_.size() - start_; }
    std::span<const T> items() const { return std::span<const T>(stack_).subspan(start_); }
    List<T> take(TreeMemory& memory) const { return memory.copy(items()); }

private:
    std::vector<T>& stack_;
    std::size_t start_;
};

// One stack per kind of list element.
struct GatherStacks {
    std::vector<Node> nodes;
    std::vector<Word> words;
    std::vector<Assignment> assigns;
    std::vector<Redirect> redirects;
    std::vector<IfClause> clauses;
    std::vector<CaseArm> arms;
};

}  // namespace kiln
