#include "base/rbtree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {
struct Node {
  rblink_t link;  // first member: a link pointer is the node pointer
  int key;
  int serial;     // insertion order
};

const Node* AsNode(const rblink_t* link) { return reinterpret_cast<const Node*>(link); }

int CompareNodes(const rblink_t* a, const rblink_t* b) {
  int x = AsNode(a)->key, y = AsNode(b)->key;
  return x < y ? -1 : x > y;
}

int CompareKey(const void* key, const rblink_t* node) {
  int x = *static_cast<const int*>(key), y = AsNode(node)->key;
  return x < y ? -1 : x > y;
}

// Checks parent links and colour rules below `node`; returns the black height, -1 on a fault.
int BlackHeight(const rblink_t* node, const rblink_t* parent) {
  if (!node) return 1;
  if (node->parent != parent || !rb_linked(node)) return -1;
  bool red = node->color == 1;
  if (red && ((node->left && node->left->color == 1) || (node->right && node->right->color == 1)))
    return -1;
  int left = BlackHeight(node->left, node);
  int right = BlackHeight(node->right, node);
  if (left < 0 || left != right) return -1;
  return left + (red ? 0 : 1);
}

using Model = std::multiset<std::pair<int, int>>;

// The tree in order must be the model in order, and every rule must hold.
void ExpectMatches(const rbtree_t& tree, const Model& model) {
  ASSERT_TRUE(!tree.root || tree.root->color == 2) << "root must be black";
  ASSERT_GT(BlackHeight(tree.root, nullptr), 0);
  auto expected = model.begin();
  for (const rblink_t* link = rb_first(&tree); link; link = rb_next(link), ++expected) {
    ASSERT_NE(expected, model.end());
    ASSERT_EQ(AsNode(link)->key, expected->first);
    ASSERT_EQ(AsNode(link)->serial, expected->second);
  }
  ASSERT_EQ(expected, model.end());
}
}  // namespace

TEST(RbTree, EmptyTree) {
  rbtree_t tree{};
  int key = 1;
  EXPECT_EQ(rb_first(&tree), nullptr);
  EXPECT_EQ(rb_search(&tree, &key, CompareKey), nullptr);
  Node lone{};
  EXPECT_FALSE(rb_linked(&lone.link));
  rb_insert(&tree, &lone.link, CompareNodes);
  EXPECT_TRUE(rb_linked(&lone.link));
  EXPECT_EQ(rb_next(&lone.link), nullptr);
  rb_remove(&tree, &lone.link);
  EXPECT_FALSE(rb_linked(&lone.link));
  EXPECT_EQ(tree.root, nullptr);
}

TEST(RbTree, EqualKeysKeepInsertionOrderAndSearchFindsTheFirst) {
  rbtree_t tree{};
  std::vector<Node> nodes(9);
  for (int i = 0; i < 9; ++i) {
    nodes[i] = Node{{}, i % 3, i};
    rb_insert(&tree, &nodes[i].link, CompareNodes);
  }
  for (int key = 0; key < 3; ++key) {
    const rblink_t* found = rb_search(&tree, &key, CompareKey);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(AsNode(found)->serial, key);
    EXPECT_EQ(AsNode(rb_next(found))->serial, key + 3);
  }
  int missing = 7;
  EXPECT_EQ(rb_search(&tree, &missing, CompareKey), nullptr);
  rb_remove(&tree, &nodes[1].link);  // the first 1: the next one becomes leftmost
  int one = 1;
  EXPECT_EQ(AsNode(rb_search(&tree, &one, CompareKey))->serial, 4);
}

TEST(RbTree, RandomOperationsMatchAMultiset) {
  std::mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    std::vector<Node> nodes(400);
    std::vector<int> linked;
    rbtree_t tree{};
    Model model;
    int key_range = round % 2 ? 20 : 100000;  // many duplicates, then few
    for (int step = 0; step < 2000; ++step) {
      bool insert = linked.empty() || (linked.size() < nodes.size() && random() % 5 < 3);
      if (insert) {
        int index;
        do index = random() % nodes.size(); while (rb_linked(&nodes[index].link));
        nodes[index].key = random() % key_range;
        nodes[index].serial = step;
        rb_insert(&tree, &nodes[index].link, CompareNodes);
        model.insert({nodes[index].key, step});
        linked.push_back(index);
      } else {
        size_t pick = random() % linked.size();
        Node& node = nodes[linked[pick]];
        rb_remove(&tree, &node.link);
        model.erase(model.find({node.key, node.serial}));
        linked[pick] = linked.back();
        linked.pop_back();
      }
      if (step % 50 == 0 || step == 1999) {
        ASSERT_NO_FATAL_FAILURE(ExpectMatches(tree, model));
        int key = random() % key_range;
        auto lower = model.lower_bound({key, -1});
        const rblink_t* found = rb_search(&tree, &key, CompareKey);
        if (lower == model.end() || lower->first != key) {
          ASSERT_EQ(found, nullptr);
        } else {
          ASSERT_NE(found, nullptr);
          ASSERT_EQ(AsNode(found)->serial, lower->second);
        }
      }
    }
  }
}

// Each new node goes directly after the first node of its key (the way a directory places a
// name it already holds), else at its sorted place; the in-order sequence must follow a plain
// list model through inserts and removals, with every colour rule kept.
TEST(RbTree, InsertAfterTheFirstEqualNodeMatchesAListModel) {
  std::mt19937 random(54321);
  std::vector<Node> nodes(300);
  std::vector<std::pair<int, int>> model;  // (key, serial) in tree order
  std::vector<int> linked;
  rbtree_t tree{};
  for (int step = 0; step < 3000; ++step) {
    bool insert = linked.empty() || (linked.size() < nodes.size() && random() % 5 < 3);
    if (insert) {
      int index;
      do index = random() % nodes.size(); while (rb_linked(&nodes[index].link));
      nodes[index] = Node{{}, int(random() % 12), step};
      auto at = std::lower_bound(model.begin(), model.end(), std::pair{nodes[index].key, INT_MIN});
      if (rblink_t* first = rb_search(&tree, &nodes[index].key, CompareKey)) {
        rb_insert_after(&tree, first, &nodes[index].link);
        ++at;
      } else {
        rb_insert(&tree, &nodes[index].link, CompareNodes);
      }
      model.insert(at, {nodes[index].key, step});
      linked.push_back(index);
    } else {
      size_t pick = random() % linked.size();
      Node& node = nodes[linked[pick]];
      rb_remove(&tree, &node.link);
      model.erase(std::find(model.begin(), model.end(), std::pair{node.key, node.serial}));
      linked[pick] = linked.back();
      linked.pop_back();
    }
    ASSERT_TRUE(!tree.root || tree.root->color == 2) << "root must be black";
    ASSERT_GT(BlackHeight(tree.root, nullptr), 0) << step;
    if (step % 100 != 99) continue;
    std::vector<std::pair<int, int>> in_order;
    for (const rblink_t* link = rb_first(&tree); link; link = rb_next(link))
      in_order.push_back({AsNode(link)->key, AsNode(link)->serial});
    ASSERT_EQ(in_order, model) << step;
  }
}
