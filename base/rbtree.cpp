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

// The child on one side: the right one when `right` is true.
rblink_t*& Child(rblink_t* node, bool right) { return right ? node->right : node->left; }

// A left rotation (`left` true) lifts the right child above `node`; a right one the left child.
void Rotate(rbtree_t* tree, rblink_t* node, bool left) {
  rblink_t* pivot = Child(node, left);
  rblink_t* inner = Child(pivot, !left);
  Child(node, left) = inner;
  if (inner) inner->parent = node;
  ReplaceChild(tree, node, pivot);
  Child(pivot, !left) = node;
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
    rblink_t* uncle = Child(grand, parent_is_left);
    if (IsRed(uncle)) {
      parent->color = kBlack;
      uncle->color = kBlack;
      grand->color = kRed;
      node = grand;
      continue;
    }
    if (node == Child(parent, parent_is_left)) {  // the inner grandchild: straighten first
      Rotate(tree, parent, parent_is_left);
      node = parent;
      parent = node->parent;
    }
    Rotate(tree, grand, !parent_is_left);
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
    rblink_t* sibling = Child(parent, is_left);  // exists: black height >= 1
    if (IsRed(sibling)) {
      sibling->color = kBlack;
      parent->color = kRed;
      Rotate(tree, parent, is_left);
      sibling = Child(parent, is_left);
    }
    rblink_t* near = Child(sibling, !is_left);
    rblink_t* far = Child(sibling, is_left);
    if (IsBlack(near) && IsBlack(far)) {
      sibling->color = kRed;
      node = parent;
      parent = node->parent;
      continue;
    }
    if (IsBlack(far)) {
      near->color = kBlack;
      sibling->color = kRed;
      Rotate(tree, sibling, !is_left);
      sibling = Child(parent, is_left);
      far = Child(sibling, is_left);
    }
    sibling->color = parent->color;
    parent->color = kBlack;
    far->color = kBlack;
    Rotate(tree, parent, is_left);
    node = tree->root;
    break;
  }
  if (node) node->color = kBlack;
}

// Hangs `node` as a red leaf in the empty `slot` of `parent` and rebalances.
void LinkLeaf(rbtree_t* tree, rblink_t* node, rblink_t* parent, rblink_t** slot) {
  node->left = nullptr;
  node->right = nullptr;
  node->parent = parent;
  node->color = kRed;
  *slot = node;
  FixAfterInsert(tree, node);
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
  LinkLeaf(tree, node, parent, slot);
}

void rb_insert_after(rbtree_t* tree, rblink_t* after, rblink_t* node) {
  // The in-order gap after `after` is its empty right slot, or else the empty left slot of the
  // leftmost node of its right subtree.
  if (!after->right) {
    LinkLeaf(tree, node, after, &after->right);
  } else {
    rblink_t* successor = Leftmost(after->right);
    LinkLeaf(tree, node, successor, &successor->left);
  }
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
