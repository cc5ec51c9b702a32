#include "base/rbtree.h"

namespace {
constexpr uint8_t kUnlinked = 0;
constexpr uint8_t kRed = 1;
constexpr uint8_t kBlack = 2;

bool IsRed(const rblink_t* node) { return node && node->color == kRed; }
bool IsBlack(const rblink_t* node) { return !node || node->color == kBlack; }

// Puts `replacement` where `node` hangs from its parent (or the root).
void ReplaceChild(rbtree_t* tree, rblink_t* node, rblink_t* replacement) {
  rblink_t* parent = node->parent;
  if (!parent)
    tree->root = replacement;
  else if (parent->left == node)
    parent->left = replacement;
  else
    parent->right = replacement;
  if (replacement) replacement->parent = parent;
}

// Turns the edge between `node` and its right child so the child becomes the parent.
void RotateLeft(rbtree_t* tree, rblink_t* node) {
  rblink_t* pivot = node->right;
  node->right = pivot->left;
  if (pivot->left) pivot->left->parent = node;
  ReplaceChild(tree, node, pivot);
  pivot->left = node;
  node->parent = pivot;
}

void RotateRight(rbtree_t* tree, rblink_t* node) {
  rblink_t* pivot = node->left;
  node->left = pivot->right;
  if (pivot->right) pivot->right->parent = node;
  ReplaceChild(tree, node, pivot);
  pivot->right = node;
  node->parent = pivot;
}

rblink_t* Leftmost(rblink_t* node) {
  while (node->left) node = node->left;
  return node;
}

// Restores the colour rules after a red node was linked in below a red parent.
void FixAfterInsert(rbtree_t* tree, rblink_t* node) {
  while (IsRed(node->parent)) {
    rblink_t* parent = node->parent;
    rblink_t* grand = parent->parent;  // exists: the root is black
    bool parent_is_left = grand->left == parent;
    rblink_t* uncle = parent_is_left ? grand->right : grand->left;
    if (IsRed(uncle)) {
      parent->color = kBlack;
      uncle->color = kBlack;
      grand->color = kRed;
      node = grand;
      continue;
    }
    if (parent_is_left) {
      if (node == parent->right) {
        RotateLeft(tree, parent);
        node = parent;
        parent = node->parent;
      }
      RotateRight(tree, grand);
    } else {
      if (node == parent->left) {
        RotateRight(tree, parent);
        node = parent;
        parent = node->parent;
      }
      RotateLeft(tree, grand);
    }
    parent->color = kBlack;
    grand->color = kRed;
    break;
  }
  tree->root->color = kBlack;
}

// Restores the black height after a black node was taken out above `node` (possibly null),
// whose parent is `parent`.
void FixAfterRemove(rbtree_t* tree, rblink_t* node, rblink_t* parent) {
  while (node != tree->root && IsBlack(node)) {
    bool is_left = parent->left == node;
    rblink_t* sibling = is_left ? parent->right : parent->left;  // exists: black height >= 1
    if (IsRed(sibling)) {
      sibling->color = kBlack;
      parent->color = kRed;
      if (is_left)
        RotateLeft(tree, parent);
      else
        RotateRight(tree, parent);
      sibling = is_left ? parent->right : parent->left;
    }
    rblink_t* near = is_left ? sibling->left : sibling->right;
    rblink_t* far = is_left ? sibling->right : sibling->left;
    if (IsBlack(near) && IsBlack(far)) {
      sibling->color = kRed;
      node = parent;
      parent = node->parent;
      continue;
    }
    if (IsBlack(far)) {
      near->color = kBlack;
      sibling->color = kRed;
      if (is_left)
        RotateRight(tree, sibling);
      else
        RotateLeft(tree, sibling);
      sibling = is_left ? parent->right : parent->left;
      far = is_left ? sibling->right : sibling->left;
    }
    sibling->color = parent->color;
    parent->color = kBlack;
    far->color = kBlack;
    if (is_left)
      RotateLeft(tree, parent);
    else
      RotateRight(tree, parent);
    node = tree->root;
    break;
  }
  if (node) node->color = kBlack;
}
}  // namespace

void rb_insert(rbtree_t* tree, rblink_t* node, rb_compare_fn compare) {
  rblink_t* parent = nullptr;
  rblink_t** slot = &tree->root;
  while (*slot) {
    parent = *slot;
    // Equal keys descend to the right, so they stay in insertion order.
    slot = compare(node, parent) < 0 ? &parent->left : &parent->right;
  }
  node->left = nullptr;
  node->right = nullptr;
  node->parent = parent;
  node->color = kRed;
  *slot = node;
  FixAfterInsert(tree, node);
}

void rb_remove(rbtree_t* tree, rblink_t* node) {
  rblink_t* child;
  rblink_t* child_parent;
  uint8_t removed_color;
  if (!node->left || !node->right) {
    child = node->left ? node->left : node->right;
    child_parent = node->parent;
    removed_color = node->color;
    ReplaceChild(tree, node, child);
  } else {
    // Two children: the in-order successor takes the node's place and colour.
    rblink_t* successor = Leftmost(node->right);
    removed_color = successor->color;
    child = successor->right;
    if (successor->parent == node) {
      child_parent = successor;
    } else {
      child_parent = successor->parent;
      ReplaceChild(tree, successor, child);
      successor->right = node->right;
      successor->right->parent = successor;
    }
    ReplaceChild(tree, node, successor);
    successor->left = node->left;
    successor->left->parent = successor;
    successor->color = node->color;
  }
  if (removed_color == kBlack) FixAfterRemove(tree, child, child_parent);
  node->left = node->right = node->parent = nullptr;
  node->color = kUnlinked;
}

rblink_t* rb_first(const rbtree_t* tree) { return tree->root ? Leftmost(tree->root) : nullptr; }

rblink_t* rb_next(const rblink_t* node) {
  if (node->right) return Leftmost(node->right);
  const rblink_t* child = node;
  rblink_t* parent = node->parent;
  while (parent && parent->right == child) {
    child = parent;
    parent = parent->parent;
  }
  return parent;
}

rblink_t* rb_search(const rbtree_t* tree, const void* key, rb_search_fn compare) {
  rblink_t* found = nullptr;
  rblink_t* node = tree->root;
  while (node) {
    int order = compare(key, node);
    if (order == 0) found = node;  // remember it and look further left
    node = order <= 0 ? node->left : node->right;
  }
  return found;
}
