// The memory of parsed trees: one arena per tree, released with it.
#pragma once

#include <memory>
#include <memory_resource>

namespace kiln {

// A fresh arena for the nodes of one tree. Its blocks come from a small cache of released
// blocks, so that parsing text after text (a file sourced in a loop, one command
// substitution after another) reuses memory that is already mapped.
std::unique_ptr<std::pmr::memory_resource> make_tree_arena();

}  // namespace kiln
