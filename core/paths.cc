#include "core/paths.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/config.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/pages.h"
#include "core/text.h"

namespace {

PathNode* new_node(NodePool* pool) {
  if (pool) return pool->new_node();
  void* block = new_block(sizeof(PathNode));
  return block ? new (block) PathNode() : nullptr;
}

void delete_node(PathNode* node) {
  node->first_child = nullptr;
  node->next_sibling = nullptr;
  const bool pooled = node->pooled;
  node->~PathNode();
  if (!pooled) std::free(node);
}

// Frees `node` and everything reachable from it through first_child and
// next_sibling. A node with a first child is rotated below that child until it
// has none, so the tree unrolls into a list that is freed front to back.
void free_nodes(PathNode* node) {
  while (node) {
    if (PathNode* child = node->first_child) {
      node->first_child = child->next_sibling;
      child->next_sibling = node;
      node = child;
    } else {
      PathNode* next = node->next_sibling;
      delete_node(node);
      node = next;
    }
  }
}

}  // namespace

void delete_path_node(PathNode* node) {
  const bool pooled = node->pooled;
  node->~PathNode();  // frees what lies below it
  if (!pooled) std::free(node);
}

void drop_added_nodes(PathNode* added) {
  if (!added) return;
  PathNode* parent = added->parent;
  parent->first_child = added->next_sibling;
  parent->forget_child_index();  // it may name the node
  added->next_sibling = nullptr;
  delete_path_node(added);
}

// A block's header; its nodes follow it.
struct NodePool::Block {
  Block* next;
  int64_t nodes;  // the nodes it holds
};
static_assert(sizeof(NodePool::Block) % alignof(PathNode) == 0, "nodes follow the block header aligned");

PathNode* NodePool::new_node() {
  if (!blocks || used == capacity) {
    int32_t nodes = block_nodes > 0 ? block_nodes : 1;
    void* memory = new_block(sizeof(Block) + sizeof(PathNode) * static_cast<std::size_t>(nodes));
    if (!memory) return nullptr;
    blocks = new (memory) Block{blocks, nodes};
    capacity = nodes;
    used = 0;
  }
  void* slot = reinterpret_cast<unsigned char*>(blocks + 1) + sizeof(PathNode) * static_cast<std::size_t>(used);
  PathNode* node = new (slot) PathNode();
  node->pooled = true;
  ++used;
  return node;
}

void NodePool::take_apart() {
  for (Block* block = blocks; block; block = block->next) {
    const int64_t handed_out = block == blocks ? used : block->nodes;
    PathNode* nodes = reinterpret_cast<PathNode*>(block + 1);
    for (int64_t i = 0; i < handed_out; ++i) {
      PathNode& node = nodes[i];
      node.forget_child_index();
      // A link to a heap node is the only way to it: it goes with all it leads to.
      if (node.first_child && !node.first_child->pooled) free_nodes(node.first_child);
      if (node.next_sibling && !node.next_sibling->pooled) free_nodes(node.next_sibling);
      node.first_child = nullptr;
      node.next_sibling = nullptr;
    }
  }
}

void NodePool::release() {
  while (blocks) {
    Block* next = blocks->next;
    std::free(blocks);
    blocks = next;
  }
  used = 0;
  capacity = 0;
}

// The children of one node by page number: open addressing in one block with its
// slots. It is built from the child list and dropped whenever it cannot be kept
// complete, so it never decides anything the list would not.
struct ChildIndex {
  uint32_t capacity;  // a power of two
  uint32_t used;      // distinct pages in it

  PathNode** slots() { return reinterpret_cast<PathNode**>(this + 1); }
};

namespace {

// Children scanned in a list before it gets an index.
constexpr int32_t kIndexFrom = 8;

uint32_t first_slot(int32_t page, uint32_t capacity) {
  uint32_t h = static_cast<uint32_t>(page) * 2654435769u;
  return (h ^ (h >> 16)) & (capacity - 1);
}

// Puts a child in; an older child of the same page stays unless `newest`. Needs a
// free slot.
void index_put(ChildIndex* index, PathNode* child, bool newest) {
  PathNode** slots = index->slots();
  for (uint32_t i = first_slot(child->page, index->capacity);; i = (i + 1) & (index->capacity - 1)) {
    if (!slots[i]) {
      slots[i] = child;
      ++index->used;
      return;
    }
    if (slots[i]->page == child->page) {
      if (newest) slots[i] = child;
      return;
    }
  }
}

PathNode* index_find(ChildIndex* index, int32_t page) {
  PathNode** slots = index->slots();
  for (uint32_t i = first_slot(page, index->capacity);; i = (i + 1) & (index->capacity - 1)) {
    if (!slots[i] || slots[i]->page == page) return slots[i];
  }
}

// An index of the list from `first` (newest first, so the newest of a page wins),
// at most half full; null when memory runs out.
ChildIndex* build_index(PathNode* first) {
  uint32_t children = 0;
  for (PathNode* child = first; child; child = child->next_sibling) {
    if (++children > (1u << 28)) return nullptr;
  }
  uint32_t capacity = 16;
  while (capacity < 2 * (children + 1)) capacity *= 2;
  void* block = new_block(sizeof(ChildIndex) + sizeof(PathNode*) * static_cast<std::size_t>(capacity));
  if (!block) return nullptr;
  ChildIndex* index = new (block) ChildIndex{capacity, 0};
  PathNode** slots = index->slots();
  for (uint32_t i = 0; i < capacity; ++i) slots[i] = nullptr;
  for (PathNode* child = first; child; child = child->next_sibling) index_put(index, child, false);
  return index;
}

}  // namespace

void PathNode::init_root() { init(-1, nullptr); }

void PathNode::init(int32_t page_number, PathNode* parent_node) { init_timed(page_number, parent_node, 0, 0); }

void PathNode::init_timed(int32_t page_number, PathNode* parent_node, int32_t timed, int32_t stay_seconds) {
  page = page_number;
  visitors = 0;
  timed_views = timed;
  seconds = stay_seconds;
  parent = parent_node;
  first_child = nullptr;
  next_sibling = nullptr;
  forget_child_index();
}

void PathNode::forget_child_index() {
  std::free(child_index);
  child_index = nullptr;
}

void PathNode::leave(int32_t stay_seconds) {
  --visitors;
  if (stay_seconds > 0 && stay_seconds < config.session_timeout) {
    timed_views = add_count(timed_views, 1);  // a damaged state file may hold any count
    seconds = add_count(seconds, stay_seconds);
  }
}

void PathNode::free_subtree() {
  PathNode* children = first_child;
  PathNode* siblings = next_sibling;
  init_root();
  free_nodes(children);
  free_nodes(siblings);
}

PathNode* PathNode::find_child(int32_t page_number) {
  if (!child_index) {
    int32_t scanned = 0;
    PathNode* child = first_child;
    for (; child && scanned < kIndexFrom; child = child->next_sibling, ++scanned) {
      if (child->page == page_number) return child;
    }
    if (!child) return nullptr;
    child_index = build_index(first_child);
    if (!child_index) {
      for (; child; child = child->next_sibling) {
        if (child->page == page_number) return child;
      }
      return nullptr;
    }
  }
  return index_find(child_index, page_number);
}

PathNode* PathNode::add_child(int32_t page_number, int32_t timed, int32_t stay_seconds, NodePool* pool) {
  PathNode* child = new_node(pool);
  if (!child) return nullptr;
  child->init_timed(page_number, this, timed, stay_seconds);
  child->next_sibling = first_child;
  first_child = child;
  if (child_index) {
    if (2 * (child_index->used + 1) <= child_index->capacity) {
      index_put(child_index, child, true);
    } else {
      // Rebuilt larger, or dropped when that fails: the list alone still answers.
      ChildIndex* larger = build_index(first_child);
      std::free(child_index);
      child_index = larger;
    }
  }
  return child;
}

int32_t entry_page_of(const PathNode* node) {
  while (node->parent && node->parent->parent) node = node->parent;
  return node->page;
}

namespace {

// Writes `lead` (when not NUL) and the number in decimal, the bytes "%i" gives.
// The path files hold millions of numbers, so this skips the format parsing.
void put_number(FILE* file, char lead, int32_t value) {
  char text[16];
  char* end = text + sizeof text;
  char* at = end;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--at = '-';
  if (lead) *--at = lead;
  std::fwrite(at, 1, static_cast<std::size_t>(end - at), file);
}

}  // namespace

namespace {

// " page" or " page.timed.seconds": one step of a written path.
void put_step(FILE* file, const PathNode* step, bool with_times) {
  put_number(file, ' ', step->page);
  if (with_times) {
    put_number(file, '.', step->timed_views);
    put_number(file, '.', step->seconds);
  }
}

// The ways up from several nodes are gathered side by side: the walks do not
// depend on one another, so their reads of far-apart nodes overlap instead of each
// waiting for the one before. A way longer than the room is left to
// write_node_path.
constexpr int kWays = 16;
constexpr int kWaySteps = 32;

struct Way {
  const PathNode* steps[kWaySteps];  // from the node up, the root left out
  int count;
  bool whole;  // false: the way is longer than the room
};

void gather_ways(PathNode* const* nodes, int n, Way* ways) {
  const PathNode* at[kWays];
  for (int i = 0; i < n; ++i) {
    at[i] = nodes[i];
    ways[i].count = 0;
  }
  for (bool busy = true; busy;) {
    busy = false;
    for (int i = 0; i < n; ++i) {
      const PathNode* node = at[i];
      if (!node || !node->parent || ways[i].count == kWaySteps) continue;
      ways[i].steps[ways[i].count++] = node;
      at[i] = node->parent;
      busy = true;
    }
  }
  for (int i = 0; i < n; ++i) ways[i].whole = !at[i] || !at[i]->parent;
}

// write_node_path through a gathered way.
void write_way(const Way& way, PathNode* node, FILE* file, bool with_times) {
  if (!way.whole) {
    write_node_path(node, file, with_times);
    return;
  }
  for (int k = way.count - 1; k >= 0; --k) put_step(file, way.steps[k], with_times);
}

void write_session_times(const Session& session, FILE* file) {
  put_number(file, '\0', session.visits);
  put_number(file, ' ', session.seconds);
  put_number(file, ' ', session.hour);
  put_number(file, ' ', session.minute);
  put_number(file, ' ', session.second);
}

}  // namespace

void write_node_path(PathNode* node, FILE* file, bool with_times) {
  for_each_on_path(node, [file, with_times](const PathNode* step) { put_step(file, step, with_times); });
}

NodeStack::~NodeStack() { std::free(entries); }

int NodeStack::push(PathNode* node, int32_t level) {
  if (size == capacity) {
    if (capacity > INT32_MAX / 2) return ERR_MEM;
    int32_t grown_capacity = capacity ? capacity * 2 : 64;
    void* grown = grow_block(entries, sizeof(Entry) * static_cast<std::size_t>(grown_capacity));
    if (!grown) return ERR_MEM;
    entries = static_cast<Entry*>(grown);
    capacity = grown_capacity;
  }
  entries[size++] = Entry{node, level};
  return 0;
}

int NodeList::push(PathNode* node) {
  if (grow_room(nodes, capacity, static_cast<int64_t>(count) + 1) != 0) return ERR_MEM;
  if (counts.insert_at(node->visitors, counts.count) != 0) return ERR_MEM;  // the spare room is never read
  nodes[count++] = node;
  return 0;
}

void NodeList::clear() {
  counts.clear();
  std::free(nodes);
  nodes = nullptr;
  count = 0;
  capacity = 0;
}

int PageStats::add(const PathNode* node) {
  const int32_t page = node->page;
  if (page < 0) return 0;
  if (page >= page_seen_.count) {
    if (page == INT32_MAX) return ERR_MEM;
    // Zeros past the pages seen change nothing.
    if (grow_with_zeros(page_seconds_, page + 1) != 0 || grow_with_zeros(page_timed_views_, page + 1) != 0 ||
        grow_with_zeros(page_seen_, page + 1) != 0) {
      return ERR_MEM;
    }
  }
  page_seconds_.data[page] = add_count(page_seconds_.data[page], node->seconds);
  page_timed_views_.data[page] = add_count(page_timed_views_.data[page], node->timed_views);
  page_seen_.data[page] = 1;
  return 0;
}

int PageStats::finish_times() {
  for (int32_t page = 0; page < page_seen_.count; ++page) {
    if (!page_seen_.data[page]) continue;
    int32_t seconds = page_seconds_.data[page];
    int32_t views = page_timed_views_.data[page];
    int32_t position;
    if (time_keys.find(page, &position)) {
      time_seconds.data[position] = add_count(time_seconds.data[position], seconds);
      timed_views.data[position] = add_count(timed_views.data[position], views);
      continue;
    }
    if (time_keys.insert_at(page, position) != 0) return ERR_MEM;
    if (time_seconds.insert_at(seconds, position) != 0) {
      time_keys.remove_at(position);
      return ERR_MEM;
    }
    if (timed_views.insert_at(views, position) != 0) {
      time_keys.remove_at(position);
      time_seconds.remove_at(position);
      return ERR_MEM;
    }
  }
  page_seconds_.clear();
  page_timed_views_.clear();
  page_seen_.clear();
  return 0;
}

void PageStats::clear() {
  entry_pages.clear();
  exit_pages.clear();
  time_keys.clear();
  time_seconds.clear();
  timed_views.clear();
  page_seconds_.clear();
  page_timed_views_.clear();
  page_seen_.clear();
}

void VisitDepth::init() {
  counts.clear();
  bucket_size = config.depth_increment > 0 ? config.depth_increment : 2;
}

void Session::init(PathNode* root, int at_hour, int at_minute, int at_second) {
  init_loaded(root, at_hour, at_minute, at_second, 1, 0);
}

void Session::init_loaded(PathNode* root, int at_hour, int at_minute, int at_second, int32_t loaded_visits,
                          int32_t loaded_seconds) {
  current = root;
  visits = loaded_visits;
  seconds = loaded_seconds;
  hour = static_cast<int8_t>(at_hour);
  minute = static_cast<int8_t>(at_minute);
  second = static_cast<int8_t>(at_second);
}

int Session::step(int32_t page, int at_hour, int at_minute, int at_second, NodePool* pool) {
  // The next node is found or made first, so that a failure changes nothing.
  PathNode* next = current->find_child(page);
  if (!next && !(next = current->add_child(page, 0, 0, pool))) return ERR_MEM;
  int pause = (at_hour - hour) * 3600 + (at_minute - minute) * 60 + (at_second - second);
  if (pause < config.session_timeout) {
    seconds = add_count(seconds, pause);
  } else {
    visits = add_count(visits, 1);  // a damaged state file may hold any count
  }
  hour = static_cast<int8_t>(at_hour);
  minute = static_cast<int8_t>(at_minute);
  second = static_cast<int8_t>(at_second);
  current->leave(pause);
  current = next;
  ++current->visitors;
  return 0;
}

int Session::step_loaded(int32_t page, int32_t timed, int32_t stay_seconds, NodePool* pool) {
  PathNode* next = current->find_child(page);
  if (!next && !(next = current->add_child(page, timed, stay_seconds, pool))) return ERR_MEM;
  current->leave(0);
  current = next;
  ++current->visitors;
  return 0;
}

void write_session(const Session& session, FILE* file) {
  write_session_times(session, file);
  write_node_path(session.current, file, true);
}

int walk_paths(Paths& paths, PathNode* node) {
  // Post-order over the binary view of the tree (first child left, next sibling
  // right): a node is taken once both of its links have been walked.
  NodeStack stack;
  PathNode* next = node;
  PathNode* taken = nullptr;
  while (next || !stack.empty()) {
    if (next) {
      if (stack.push(next) != 0) return ERR_MEM;
      next = next->first_child;
      continue;
    }
    PathNode* top = stack.top().node;
    if (top->next_sibling && taken != top->next_sibling) {
      next = top->next_sibling;
      continue;
    }
    stack.pop();
    taken = top;
    if (paths.page_stats.add(top) != 0) return ERR_MEM;
    // The root stands for no page and never ends a path.
    if (top->visitors > 0 && top->parent && paths.endpoints.push(top) != 0) return ERR_MEM;
  }
  return paths.page_stats.finish_times();
}

int Paths::add_session_slots(int32_t slots) {
  int64_t wanted = static_cast<int64_t>(session_count) + slots;
  if (wanted > INT32_MAX) return ERR_MEM;
  if (grow_room(sessions, session_room_, wanted) != 0) return ERR_MEM;
  for (int64_t i = session_count; i < wanted; ++i) sessions[i] = nullptr;
  session_count = static_cast<int32_t>(wanted);
  return 0;
}

int Paths::record_page_view(int32_t visitor, int32_t page, int at_hour, int at_minute, int at_second) {
  if (visitor < 0) return ERR_INP;
  if (visitor >= session_count) {
    int status = add_session_slots(static_cast<int32_t>(static_cast<int64_t>(visitor) + 1 - session_count));
    if (status != 0) return status;
  }
  if (!sessions[visitor]) {
    void* block = new_block(sizeof(Session));
    if (!block) return ERR_MEM;
    sessions[visitor] = new (block) Session();
    sessions[visitor]->init(&root, at_hour, at_minute, at_second);
  }
  return sessions[visitor]->step(page, at_hour, at_minute, at_second, &node_pool);
}

int Paths::close_day(int* average_seconds, Pgs& pages) {
  int64_t seconds_sum = 0;
  int64_t visits_sum = 0;
  for (int32_t i = 0; i < session_count; ++i) {
    const Session* session = sessions[i];
    if (session && session->seconds > 0) {
      seconds_sum += session->seconds;
      visits_sum += session->visits;
    }
  }
  int64_t average = visits_sum > 0 ? seconds_sum / visits_sum : 0;
  *average_seconds = static_cast<int>(average > INT32_MAX ? INT32_MAX : average);
  if (walk_paths(*this, &root) != 0) return ERR_MEM;
  return compute_page_times(pages, page_stats);
}

void Paths::write(FILE* file, bool state_file) {
  if (endpoints.count == 0) return;
  Way ways[kWays];
  std::fputs("PTH\n", file);
  for (int32_t first = 0; first < endpoints.count; first += kWays) {
    const int n = endpoints.count - first < kWays ? endpoints.count - first : kWays;
    gather_ways(endpoints.nodes + first, n, ways);
    for (int i = 0; i < n; ++i) {
      put_number(file, '\0', endpoints.counts.data[first + i]);
      write_way(ways[i], endpoints.nodes[first + i], file, false);
      std::fputs("\n", file);
    }
  }
  std::fputs("\n", file);
  if (!state_file) return;
  std::fputs("VIS\n", file);
  PathNode* standing[kWays];
  for (int32_t first = 0; first < session_count; first += kWays) {
    const int n = session_count - first < kWays ? session_count - first : kWays;
    for (int i = 0; i < n; ++i) standing[i] = sessions[first + i] ? sessions[first + i]->current : nullptr;
    gather_ways(standing, n, ways);
    for (int i = 0; i < n; ++i) {
      const int32_t slot = first + i;
      put_number(file, '\0', slot);
      if (sessions[slot]) {
        std::fputc(' ', file);
        write_session_times(*sessions[slot], file);
        write_way(ways[i], standing[i], file, true);
      }
      std::fputs("\n", file);
    }
  }
  std::fputs("\n", file);
}

namespace {

// The path of one restored session line, step by step; a page number outside the
// pages loaded marks the line damaged, and the steps taken can then be undone.
struct LoadedPath {
  Session& session;
  int32_t page_count;
  NodePool* pool;
  PathNode* added = nullptr;  // the first node the line made (the rest lie below it)
  bool damaged = false;

  // Reads the blank-separated triples "page.timed.seconds" of the text onto the
  // path; stops at a damaged one. 0 or -8.
  int step_triples(char* text) {
    char* cursor = text;
    while (*cursor && !damaged) {
      char* token = cursor;
      char* blank = std::strchr(cursor, ' ');
      if (blank) {
        *blank = '\0';
        cursor = blank + 1;
      } else {
        cursor += std::strlen(cursor);
      }
      if (!*token) continue;
      int32_t page = next_int_token('.', &token);
      int32_t timed = next_int_token('.', &token);
      int32_t stay = next_int_token(' ', &token);
      if (page < 0 || page >= page_count) {
        damaged = true;
        break;
      }
      PathNode* from = session.current;
      PathNode* head = from->first_child;
      int status = session.step_loaded(page, timed, stay, pool);
      if (status != 0) return status;
      if (!added && from->first_child != head) added = from->first_child;  // a new node goes to the head
    }
    return 0;
  }

  // Takes the session's steps back out of the tree: it left the root and stands on
  // its current node, and the nodes it made go.
  void undo(PathNode& root) {
    if (session.current != &root) {
      --session.current->visitors;
      ++root.visitors;
    }
    drop_added_nodes(added);
    session.current = &root;
  }
};

// One read of a line, or of the continuation of an over-long one, into the line
// buffer behind `kept` bytes already there (byte by byte, so a stray NUL byte
// cannot hide the line's end). Gives the length of the text now in the buffer
// without the line feed, and whether more of the line follows. False when the file
// had nothing more.
bool read_piece(FILE* file, std::size_t kept, std::size_t* length, bool* more) {
  const std::size_t last = static_cast<std::size_t>(line_buffer_size()) - 1;
  std::size_t n = kept;
  bool got = false;
  int c;
  while (n < last && (c = getc_unlocked(file)) != EOF) {
    got = true;
    if (c == '\n') break;
    line_buffer[n++] = static_cast<char>(c);
  }
  line_buffer[n] = '\0';
  *length = n;
  *more = false;
  if (n == last) {
    // The buffer is full: the line goes on unless only its line feed is left.
    c = getc_unlocked(file);
    if (c != '\n' && c != EOF) {
      std::ungetc(c, file);
      *more = true;
    }
  }
  return got;
}

void skip_rest_of_line(FILE* file) {
  int c;
  while ((c = std::fgetc(file)) != EOF && c != '\n') {
  }
}

}  // namespace

int Paths::read_visits(FILE* file, int32_t page_count) {
  for (;;) {
    std::size_t length;
    bool more;
    if (!read_piece(file, 0, &length, &more) || length == 0) return 0;  // the empty line ends it
    // Line k fills slot k, whatever number it was written with: a damaged number
    // can then never reach outside the session array.
    int status = add_session_slots(1);
    if (status != 0) return status;
    Session*& slot = sessions[session_count - 1];
    char* cursor = line_buffer;
    next_int_token(' ', &cursor);  // the slot number
    if (!*cursor) {
      if (more) skip_rest_of_line(file);
      continue;
    }
    int32_t visits = next_int_token(' ', &cursor);
    int32_t seconds = next_int_token(' ', &cursor);
    int at_hour = next_int_token(' ', &cursor);
    int at_minute = next_int_token(' ', &cursor);
    int at_second = next_int_token(' ', &cursor);
    void* block = new_block(sizeof(Session));
    if (!block) return ERR_MEM;
    slot = new (block) Session();
    slot->init_loaded(&root, at_hour, at_minute, at_second, visits, seconds);
    LoadedPath path{*slot, page_count, &node_pool};
    for (;;) {
      // A line longer than the buffer arrives in pieces; the text after the last
      // blank of a piece may be a cut triple, so it waits for the next piece.
      char* end = line_buffer + length;
      char* held = end;
      if (more) {
        for (char* p = end; p > cursor; --p) {
          if (p[-1] == ' ') {
            p[-1] = '\0';
            held = p;
            break;
          }
        }
      }
      status = path.step_triples(cursor);
      if (status != 0) return status;
      if (path.damaged) {
        // A page the day's pages table does not hold: the line is left out whole,
        // so that no number in it can size the page times at the day's end.
        if (more) skip_rest_of_line(file);
        path.undo(root);
        std::free(slot);
        slot = nullptr;
        break;
      }
      if (!more) break;
      std::size_t kept = static_cast<std::size_t>(end - held);
      std::memmove(line_buffer, held, kept);
      read_piece(file, kept, &length, &more);
      cursor = line_buffer;
    }
  }
}

void Paths::clear() {
  node_pool.take_apart();
  root.free_subtree();
  node_pool.release();
  page_stats.clear();
  endpoints.clear();
  single_view_pages.clear();
  depth.counts.clear();
  for (int32_t i = session_count - 1; i >= 0; --i) std::free(sessions[i]);
  std::free(sessions);
  sessions = nullptr;
  session_count = 0;
  session_room_ = 0;
}
