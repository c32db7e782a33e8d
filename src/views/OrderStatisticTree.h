#pragma once

// A sorted set with rank operations: the element at a rank and the rank at
// which a value belongs, both in logarithmic time. A B+ tree whose inner nodes
// count the elements below each child. Elements are held on the heap one by
// one, so a reference to an element stays valid until it is removed, and an
// insertion shifts the pointers of one leaf only, never a whole array.
//
// Built for lists that grow by insertion and are emptied or filtered as a
// whole; single elements are never removed.

#include <QtGlobal>

#include <algorithm>
#include <iterator>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

template <typename T, typename Less>
class OrderStatisticTree {
public:
    struct Position {
        // Number of held elements ordering before the value.
        qsizetype rank = 0;
        // An element equal to the value is held (at rank).
        bool found = false;
    };

    qsizetype size() const { return count; }

    // 0 <= rank < size().
    const T& at(qsizetype rank) const
    {
        const Node* node = root.get();
        while (!node->isLeaf()) {
            std::size_t child = 0;
            while (rank >= node->counts[child])
                rank -= node->counts[child++];
            node = node->children[child].get();
        }
        return *node->elements[static_cast<std::size_t>(rank)];
    }

    Position find(const T& value) const
    {
        Position position;
        const Node* node = root.get();
        if (!node)
            return position;
        while (!node->isLeaf()) {
            const std::size_t child = childFor(*node, value);
            position.rank = std::accumulate(node->counts.begin(), node->counts.begin() + child, position.rank);
            node = node->children[child].get();
        }
        const auto it = lowerBound(node->elements, value);
        position.rank += it - node->elements.begin();
        position.found = it != node->elements.end() && !less(value, **it);
        return position;
    }

    // Adds the value unless an equal element is held; true when added.
    bool insert(T value) { return insert(std::make_unique<T>(std::move(value))); }

    void clear()
    {
        root.reset();
        count = 0;
    }

    // Removes every element for which the predicate holds.
    template <typename Predicate>
    void removeIf(Predicate predicate)
    {
        std::vector<std::unique_ptr<T>> kept;
        kept.reserve(static_cast<std::size_t>(size()));
        if (root)
            collect(*root, kept, predicate);
        clear();
        for (std::unique_ptr<T>& element : kept)
            insert(std::move(element));
    }

private:
    // Most elements of a leaf and children of an inner node; one more is held
    // briefly before a split.
    static constexpr std::size_t Capacity = 64;

    struct Node {
        // Leaves: the elements in order.
        std::vector<std::unique_ptr<T>> elements;
        // Inner nodes: the children in order, the number of elements below
        // each, and each child's first element.
        std::vector<std::unique_ptr<Node>> children;
        std::vector<qsizetype> counts;
        std::vector<const T*> firsts;

        bool isLeaf() const { return children.empty(); }
    };

    static qsizetype countOf(const Node& node)
    {
        return node.isLeaf() ? static_cast<qsizetype>(node.elements.size())
                             : std::accumulate(node.counts.begin(), node.counts.end(), qsizetype(0));
    }

    static const T* firstOf(const Node& node)
    {
        return node.isLeaf() ? node.elements.front().get() : node.firsts.front();
    }

    auto lowerBound(const std::vector<std::unique_ptr<T>>& elements, const T& value) const
    {
        return std::lower_bound(elements.begin(), elements.end(), value,
            [this](const std::unique_ptr<T>& element, const T& v) { return less(*element, v); });
    }

    // The last child whose first element does not order after the value, or
    // the first child.
    std::size_t childFor(const Node& node, const T& value) const
    {
        const auto it = std::upper_bound(node.firsts.begin(), node.firsts.end(), value,
            [this](const T& v, const T* first) { return less(v, *first); });
        return it == node.firsts.begin() ? 0 : static_cast<std::size_t>(it - node.firsts.begin() - 1);
    }

    // Moves the entries of `from` from `keep` on to the end of `to`.
    template <typename V>
    static void moveTail(V& from, V& to, std::size_t keep)
    {
        to.reserve(Capacity + 1);
        to.insert(to.end(), std::make_move_iterator(from.begin() + keep), std::make_move_iterator(from.end()));
        from.erase(from.begin() + keep, from.end());
    }

    // A node that overflowed keeps its lower half and gives the rest to a new
    // right sibling. At the right edge of the tree, where an entry was added
    // at the end, it keeps all but that entry, so that lists growing in order
    // fill their nodes.
    static std::unique_ptr<Node> split(Node& node, bool appended)
    {
        auto sibling = std::make_unique<Node>();
        if (node.isLeaf()) {
            moveTail(node.elements, sibling->elements, appended ? Capacity : node.elements.size() / 2);
        } else {
            const std::size_t keep = appended ? Capacity : node.children.size() / 2;
            moveTail(node.children, sibling->children, keep);
            moveTail(node.counts, sibling->counts, keep);
            moveTail(node.firsts, sibling->firsts, keep);
        }
        return sibling;
    }

    bool insert(std::unique_ptr<T> element)
    {
        if (!root) {
            root = std::make_unique<Node>();
            root->elements.reserve(Capacity + 1);
        }
        bool inserted = false;
        std::unique_ptr<Node> sibling = insertInto(*root, element, true, inserted);
        if (sibling) {
            auto newRoot = std::make_unique<Node>();
            newRoot->children.reserve(Capacity + 1);
            newRoot->counts.reserve(Capacity + 1);
            newRoot->firsts.reserve(Capacity + 1);
            newRoot->counts = {countOf(*root), countOf(*sibling)};
            newRoot->firsts = {firstOf(*root), firstOf(*sibling)};
            newRoot->children.push_back(std::move(root));
            newRoot->children.push_back(std::move(sibling));
            root = std::move(newRoot);
        }
        count += inserted ? 1 : 0;
        return inserted;
    }

    // Inserts below `node`; returns the new right sibling when `node` split.
    // `rightmost`: `node` lies on the right edge of the tree.
    std::unique_ptr<Node> insertInto(Node& node, std::unique_ptr<T>& element, bool rightmost, bool& inserted)
    {
        if (node.isLeaf()) {
            const auto it = lowerBound(node.elements, *element);
            if (it != node.elements.end() && !less(*element, **it))
                return nullptr;
            const bool appended = rightmost && it == node.elements.end();
            node.elements.insert(it, std::move(element));
            inserted = true;
            return node.elements.size() > Capacity ? split(node, appended) : nullptr;
        }
        const std::size_t child = childFor(node, *element);
        const bool lastChild = child + 1 == node.children.size();
        std::unique_ptr<Node> sibling = insertInto(*node.children[child], element, rightmost && lastChild, inserted);
        if (!inserted)
            return nullptr;
        ++node.counts[child];
        node.firsts[child] = firstOf(*node.children[child]);
        if (!sibling)
            return nullptr;
        node.counts[child] = countOf(*node.children[child]);
        const auto at = static_cast<std::ptrdiff_t>(child + 1);
        node.counts.insert(node.counts.begin() + at, countOf(*sibling));
        node.firsts.insert(node.firsts.begin() + at, firstOf(*sibling));
        node.children.insert(node.children.begin() + at, std::move(sibling));
        return node.children.size() > Capacity ? split(node, rightmost && lastChild) : nullptr;
    }

    template <typename Predicate>
    static void collect(Node& node, std::vector<std::unique_ptr<T>>& kept, Predicate& predicate)
    {
        for (std::unique_ptr<Node>& child : node.children)
            collect(*child, kept, predicate);
        for (std::unique_ptr<T>& element : node.elements) {
            if (!predicate(std::as_const(*element)))
                kept.push_back(std::move(element));
        }
    }

    Less less;
    std::unique_ptr<Node> root;
    qsizetype count = 0;
};
