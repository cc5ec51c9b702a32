// The ordered tree: an intrusive red-black tree. A node embeds an `rblink_t` (usually as its
// first member or base) and the caller orders nodes with a three-way comparison. rb_insert keeps
// equal keys in insertion order, and a search returns the leftmost equal node. The tree allocates
// nothing and takes no locks; its owner guards it.
#pragma once
#include <cstdint>

struct rblink_t {
  rblink_t* left;
  rblink_t* right;
  rblink_t* parent;
  // 0 while the node is in no tree (a zero-filled link is unlinked), else red or black.
  uint8_t color;
};

struct rbtree_t {
  rblink_t* root;
};

// Orders two nodes: negative, zero or positive as `a` sorts before, with or after `b`.
using rb_compare_fn = int (*)(const rblink_t* a, const rblink_t* b);
// Orders a key against a node: negative, zero or positive as `key` sorts before, with or after.
using rb_search_fn = int (*)(const void* key, const rblink_t* node);

// Links an unlinked node in; it goes after every node that compares equal to it.
void rb_insert(rbtree_t* tree, rblink_t* node, rb_compare_fn compare);
// Links an unlinked node in directly after `after`, a node of this tree. The caller keeps the
// order: `node` must sort neither before `after` nor after the node that followed it.
void rb_insert_after(rbtree_t* tree, rblink_t* after, rblink_t* node);
// Unlinks a node of this tree; afterwards `rb_linked` is false for it.
void rb_remove(rbtree_t* tree, rblink_t* node);
// The smallest node, or null when the tree is empty.
rblink_t* rb_first(const rbtree_t* tree);
// The node after `node` in order, or null after the last.
rblink_t* rb_next(const rblink_t* node);
// The leftmost node equal to `key`, or null.
rblink_t* rb_search(const rbtree_t* tree, const void* key, rb_search_fn compare);

inline bool rb_linked(const rblink_t* node) { return node->color != 0; }
