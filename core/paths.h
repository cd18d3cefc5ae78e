#ifndef QM_CORE_PATHS_H
#define QM_CORE_PATHS_H

#include <cstdint>
#include <cstdio>

#include "core/containers.h"

class Pgs;
struct ChildIndex;
struct NodePool;

// One node of the visitor path tree. A node stands for a sequence of pages viewed
// from the first page of a visitor's day: the root's children are the first pages,
// a node's children the pages viewed next. Children form a list through
// first_child / next_sibling, newest first. A node owns no other node by itself;
// the tree is owned through the root (see free_subtree); its memory may come from a
// NodePool instead of the heap (`pooled`). A node with a long child
// list keeps a lookup index of its children beside the list (see find_child); the
// index belongs to the node and goes with it.
//
// Trees can be as deep as the longest day a single visitor had, so nothing here
// walks them by recursion.
struct PathNode {
  int32_t page = -1;        // page number in the day's pages table; -1 at the root
  int32_t visitors = 0;     // sessions standing here (parser) or day paths ending here (report)
  int32_t timed_views = 0;  // stays on this node that were timed
  int32_t seconds = 0;      // sum of the timed stays
  PathNode* parent = nullptr;
  PathNode* first_child = nullptr;
  PathNode* next_sibling = nullptr;
  ChildIndex* child_index = nullptr;  // null until the child list grows long
  bool pooled = false;                // its memory belongs to a NodePool

  PathNode() = default;
  ~PathNode() { free_subtree(); }
  PathNode(const PathNode&) = delete;
  PathNode& operator=(const PathNode&) = delete;

  // The init functions make the node childless (its index goes; the children it
  // had are not freed).
  void init_root();
  void init(int32_t page_number, PathNode* parent_node);
  void init_timed(int32_t page_number, PathNode* parent_node, int32_t timed, int32_t stay_seconds);
  // A session moves on after `stay_seconds`: one visitor less, and the stay is
  // timed when it lies strictly between 0 and the session timeout.
  void leave(int32_t stay_seconds);
  // Frees every node reachable through first_child and next_sibling (for the root:
  // the whole tree) and resets this node to the root state. Needs no memory.
  void free_subtree();

  // The child with this page number (the newest when several), or null. A long
  // child list gets an index on the way; without memory for one the list is
  // searched as it is, so the answer never depends on the index.
  PathNode* find_child(int32_t page_number);
  // A new node for the page, put at the head of the child list (and into the
  // index); null when memory runs out (nothing changed then). Its memory comes from
  // `pool` when one is given, else from the heap.
  PathNode* add_child(int32_t page_number, int32_t timed, int32_t stay_seconds, NodePool* pool = nullptr);
  // Drops the child index after the child list was changed by hand; it is built
  // again from the list when a long list is next searched.
  void forget_child_index();
};

// The page of the node's first-level ancestor (the node itself on the first level).
int32_t entry_page_of(const PathNode* node);

// Frees a node already unhooked from its tree (no next sibling left) with all
// that lies below it. A pooled node's memory goes back with its pool.
void delete_path_node(PathNode* node);

// Takes the nodes that one path line made back out of the tree: `added` is the
// first of them, still at the head of its parent's child list; the rest lie below
// it. Nothing for null.
void drop_added_nodes(PathNode* added);

// Memory for the nodes of one tree, in blocks handed out front to back, so that a
// day's nodes lie close together and go back all at once. The nodes are freed
// through the tree as before (free_subtree); release then returns the blocks.
struct NodePool {
  struct Block;
  Block* blocks = nullptr;     // newest first
  int32_t used = 0;            // nodes handed out from the newest block
  int32_t capacity = 0;        // nodes the newest block holds
  int32_t block_nodes = 1024;  // nodes per new block (about 56 KB)

  NodePool() = default;
  ~NodePool() { release(); }
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  // A fresh root-state node, or null when memory runs out.
  PathNode* new_node();
  // Takes the tree of the nodes handed out apart in the order they lie in memory,
  // much faster than through the tree: each drops its child index and its links,
  // and a heap node hanging from one goes with all below it. Freeing the tree from
  // its root then meets only the root's children up to the first pooled one.
  // Needs no memory.
  void take_apart();
  // Returns every block; the nodes handed out must all have been freed.
  void release();
};

// Calls fn(node) for every node from the first level down to `node` (nothing for
// the root). A short path is gathered on the way up in a small array; on a longer
// one the parent links are turned around for the walk down and restored before it
// returns, so this takes no more stack than that array and no heap; fn must not
// follow parent links meanwhile.
template <typename Fn>
void for_each_on_path(PathNode* node, Fn fn) {
  constexpr int kGathered = 32;
  const PathNode* gathered[kGathered];
  int n = 0;
  const PathNode* up = node;
  for (; up && up->parent && n < kGathered; up = up->parent) gathered[n++] = up;
  if (!up || !up->parent) {
    while (n > 0) fn(gathered[--n]);
    return;
  }
  PathNode* below = nullptr;
  PathNode* at = node;
  while (at && at->parent) {
    PathNode* up = at->parent;
    at->parent = below;
    below = at;
    at = up;
  }
  PathNode* above = at;  // the root (or null when `node` was null)
  while (below) {
    PathNode* next = below->parent;
    below->parent = above;
    fn(static_cast<const PathNode*>(below));
    above = below;
    below = next;
  }
}

// " %i" per page from the first level down to the node, with times ".%i.%i"
// (timed views, seconds) after each page.
void write_node_path(PathNode* node, FILE* file, bool with_times);

// A list of nodes, each with its visitors value at the time it was appended.
// Owns its arrays, not the nodes.
struct NodeList {
  intArr counts;
  int32_t count = 0;
  PathNode** nodes = nullptr;
  int32_t capacity = 0;  // room of `nodes`

  NodeList() = default;
  ~NodeList() { clear(); }
  NodeList(const NodeList&) = delete;
  NodeList& operator=(const NodeList&) = delete;

  int push(PathNode* node);
  void clear();
};

// Sorted int-to-int map: keys ascend, the value at position i belongs to key i;
// add sums the value into a present key.
using iiArr = icArr;

// Page statistics of a tree.
struct PageStats {
  iiArr entry_pages;   // page -> day paths that began on it (report)
  iiArr exit_pages;    // page -> day paths that ended on it (report)
  intArr time_keys;    // page numbers, ascending
  intArr time_seconds; // per key: sum of the seconds of all nodes of that page
  intArr timed_views;  // per key: sum of the timed views of all nodes of that page

  PageStats() = default;
  ~PageStats() { clear(); }
  PageStats(const PageStats&) = delete;
  PageStats& operator=(const PageStats&) = delete;

  int add_entry(int32_t page, int32_t amount) { return entry_pages.add(page, amount); }
  int add_exit(int32_t page, int32_t amount) { return exit_pages.add(page, amount); }
  // Adds the node's seconds and timed views under its page; nothing for page < 0.
  // They are gathered by page number and reach the keyed arrays at finish_times.
  int add(const PathNode* node);
  // Adds what add gathered to the keyed arrays, in ascending page order. 0 or -8.
  int finish_times();
  void clear();

 private:
  // Gathered by add, by page number.
  intArr page_seconds_;
  intArr page_timed_views_;
  chrArr page_seen_;
};

// Visit-depth histogram (report side).
struct VisitDepth {
  intArr counts;
  int32_t bucket_size = 0;

  // Counts empty; bucket size from the configured depth increment, 2 when not above 0.
  void init();
};

// One visitor of the day.
struct Session {
  PathNode* current = nullptr;  // node of the last page view (the root before the first)
  int32_t visits = 0;           // 1 + pauses of at least the session timeout
  int32_t seconds = 0;          // sum of the pauses shorter than the timeout
  int8_t hour = 0;              // time of day of the last page view
  int8_t minute = 0;
  int8_t second = 0;

  void init(PathNode* root, int at_hour, int at_minute, int at_second);
  void init_loaded(PathNode* root, int at_hour, int at_minute, int at_second, int32_t loaded_visits,
                   int32_t loaded_seconds);
  // One page view at the given time of day. 0, or -8 (nothing changed then).
  // New nodes come from `pool` when one is given.
  int step(int32_t page, int at_hour, int at_minute, int at_second, NodePool* pool = nullptr);
  // One node of a restored path, with the node's timing as written. 0, or -8.
  int step_loaded(int32_t page, int32_t timed, int32_t stay_seconds, NodePool* pool = nullptr);
};

// "%i %i %i %i %i" (visits, seconds, hour, minute, second) and the path with times.
void write_session(const Session& session, FILE* file);

// The visitor paths of one day: a tree shared by all sessions, plus what the day
// walk derives from it. Owns every node below the root, every session and array.
struct Paths {
  int32_t session_count = 0;  // session slots: highest visitor number seen + 1
  NodePool node_pool;         // memory of the nodes below the root (declared first: it outlives them)
  PathNode root;
  NodeList endpoints;         // nodes with visitors above 0, in walk order
  NodeList single_view_pages; // report side
  PageStats page_stats;
  Session** sessions = nullptr;  // slot per visitor number; null where none
  VisitDepth depth;

  Paths() = default;
  ~Paths() { clear(); }
  Paths(const Paths&) = delete;
  Paths& operator=(const Paths&) = delete;

  // One page view of the visitor (the visitor table's number) at a time of day.
  int record_page_view(int32_t visitor, int32_t page, int at_hour, int at_minute, int at_second);
  // Ends the day: the average visit seconds, the endpoints and the page times of
  // the pages table. 0 or -8.
  int close_day(int* average_seconds, Pgs& pages);
  // The PathsSection and, for the state file, the VisitsSection. Nothing at all
  // when there are no endpoints.
  void write(FILE* file, bool state_file);
  // Reads the lines after "VIS" up to the empty line and restores the sessions
  // and the tree they stand on; page numbers name the `page_count` pages loaded
  // before. A line with any other page number is damaged: its slot stays empty.
  // 0 or -8.
  int read_visits(FILE* file, int32_t page_count);
  // Report side: merges the lines after "PTH" up to the empty line into the tree,
  // page numbers of the file mapped through `line_map`; each line's count is added
  // to the node its pages lead to. 0 or -8 (core/path_reports.cc).
  int read_paths(FILE* file, const intArr& line_map);
  void clear();

 private:
  int add_session_slots(int32_t slots);

  int32_t session_room_ = 0;  // room of `sessions`
};

// A work stack for walking trees without recursion: nodes with a level each.
// Grows by doubling; push gives 0 or -8.
struct NodeStack {
  struct Entry {
    PathNode* node;
    int32_t level;
  };
  Entry* entries = nullptr;
  int32_t size = 0;
  int32_t capacity = 0;

  NodeStack() = default;
  ~NodeStack();
  NodeStack(const NodeStack&) = delete;
  NodeStack& operator=(const NodeStack&) = delete;

  int push(PathNode* node, int32_t level = 0);
  Entry& top() { return entries[size - 1]; }
  void pop() { --size; }
  bool empty() const { return size == 0; }
};

// The day walk: post-order over first-child / next-sibling links (each node after
// its own subtree and after its later siblings with theirs). Adds every node to the
// page times and pushes nodes with visitors above 0 onto the endpoints. 0 or -8.
int walk_paths(Paths& paths, PathNode* node);

#endif
