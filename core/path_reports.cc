#include "core/path_reports.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/bounded_format.h"
#include "core/config.h"
#include "core/errors.h"
#include "core/escape.h"
#include "core/html_writer.h"
#include "core/output.h"
#include "core/pages.h"
#include "core/text.h"
#include "core/top_list.h"

namespace {

// Reads the next blank-separated word of the current line into the line buffer
// (a word longer than the buffer keeps its start) and gives what ended it: ' ' when
// the line goes on, '\n' or EOF when it ended. Byte by byte, so that a line of any
// length stays one record and a NUL byte cannot end it early.
int read_word(FILE* file) {
  const int last = line_buffer_size() - 1;
  int n = 0;
  int c;
  while ((c = getc_unlocked(file)) != EOF && c != ' ' && c != '\n') {
    if (n < last) line_buffer[n++] = static_cast<char>(c);
  }
  if (c != ' ' && n > 0 && line_buffer[n - 1] == '\r') --n;  // the line end's carriage return
  line_buffer[n] = '\0';
  return c;
}

void skip_line(FILE* file, int ended_by) {
  int c = ended_by;
  while (c != '\n' && c != EOF) c = getc_unlocked(file);
}

const char* page_name(const Pgs& pages, int32_t page) {
  if (page < 0 || page >= pages.views.keys.count) return "";
  return pages.views.keys.strings[page];
}

int32_t bucket_size_of(const VisitDepth& depth) { return depth.bucket_size > 0 ? depth.bucket_size : 2; }

// Adds each endpoint's count to the map under the page page_of gives. The counts
// are summed by page number first (in list order, as the map would sum them) and
// then go into the map in ascending page order, each new key at the map's end.
template <typename PageOf>
int add_by_page(iiArr& map, const NodeList& ends, PageOf page_of) {
  intArr totals;  // by page number
  chrArr seen;
  for (int32_t i = 0; i < ends.count; ++i) {
    int32_t page = page_of(ends.nodes[i]);
    int32_t count = ends.counts.data[i];
    if (page < 0 || page == INT32_MAX) {
      if (map.add(page, count) != 0) return ERR_MEM;  // no page number: straight into the map
      continue;
    }
    if (grow_with_zeros(totals, page + 1) != 0 || grow_with_zeros(seen, page + 1) != 0) return ERR_MEM;
    totals.data[page] = seen.data[page] ? add_count(totals.data[page], count) : count;
    seen.data[page] = 1;
  }
  for (int32_t page = 0; page < seen.count; ++page) {
    if (seen.data[page] && map.add(page, totals.data[page]) != 0) return ERR_MEM;
  }
  return 0;
}

int collect(Paths& paths) {
  PathNode* first = paths.root.first_child;
  if (walk_paths(paths, &paths.root) != 0) return ERR_MEM;
  for (PathNode* node = first; node; node = node->next_sibling) {
    if (node->visitors != 0 && paths.single_view_pages.push(node) != 0) return ERR_MEM;
  }
  const NodeList& ends = paths.endpoints;
  if (config.report_on[RPT_ENP] &&
      add_by_page(paths.page_stats.entry_pages, ends, [](const PathNode* node) { return entry_page_of(node); }) != 0) {
    return ERR_MEM;
  }
  if (config.report_on[RPT_EXP] &&
      add_by_page(paths.page_stats.exit_pages, ends, [](const PathNode* node) { return node->page; }) != 0) {
    return ERR_MEM;
  }
  return 0;
}

// The rows of "Single View Pages" and "Visitor's Paths": the way to each node of
// the list, ranked by the list's counts (ties in list order).
void print_node_list(const NodeList& list, const char* help_code, const char* title, const char* key_label, int total,
                     const char* value_label, int limit, const Pgs& pages) {
  const std::size_t size = static_cast<std::size_t>(line_buffer_size());
  bool written = print_ranked_values(
      list.counts.data, list.count, help_code, title, key_label, value_label, limit, false,
      [&list, &pages, total, size](int32_t i, int32_t position) {
        if (i != 0) html.spacer_row(4);
        int32_t count = list.counts.data[position];
        page_printf("<tr class=dat align=right%s>", html.row_attribute);
        page_printf("<td align=center>%i</td>", i + 1);
        page_puts("<td align=left>");
        format_into(line_buffer, size, " <img src=%simgs/a.gif align=absbottom> ", html.prefix);
        print_node_path(list.nodes[position], pages, line_buffer, false);
        page_puts("</td>");
        page_puts("<td>");
        print_number(count);
        page_puts("</td>");
        // A total of 0 shows 0.0, as in every other row, not "nan" or "inf".
        double percent = static_cast<double>(share_of(count, total)) * 100.0;
        page_printf("<td>%.1f</td>", std::isfinite(percent) ? percent : 0.0);
        page_puts("</tr>\n");
      });
  if (written) html.line_break();
}

int32_t clamped(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

int Paths::read_paths(FILE* file, const intArr& line_map) {
  for (;;) {
    int c = getc_unlocked(file);
    if (c == EOF || c == '\n') return 0;  // the empty line ends the section
    std::ungetc(c, file);
    int ended_by = read_word(file);
    int32_t count = text_to_int(line_buffer);
    PathNode* at = &root;
    PathNode* added = nullptr;
    bool unknown_page = false;
    while (ended_by == ' ') {
      ended_by = read_word(file);
      if (!line_buffer[0]) continue;  // a doubled or trailing blank
      int32_t number = text_to_int(line_buffer);
      if (number < 0 || number >= line_map.count) {
        unknown_page = true;
        break;
      }
      int32_t page = line_map.data[number];
      PathNode* next = at->find_child(page);
      if (!next) {
        next = at->add_child(page, 0, 0, &node_pool);
        if (!next) {
          drop_added_nodes(added);
          return ERR_MEM;
        }
        if (!added) added = next;
      }
      at = next;
    }
    skip_line(file, ended_by);
    if (unknown_page) {
      // A page the file's pages table does not hold: the line is damaged and left out.
      drop_added_nodes(added);
      continue;
    }
    // A line without pages would end on the root, which stands for no path.
    if (at != &root) at->visitors = add_count(at->visitors, count);
  }
}

int collect_paths(Paths& paths) {
  int status = collect(paths);
  if (status != 0) {
    paths.endpoints.clear();
    paths.single_view_pages.clear();
    paths.page_stats.clear();
  }
  return status;
}

int depth_count(VisitDepth& depth, PathNode* node, int level) {
  // Pre-order: a node, then its first child's subtree, then its next sibling. The
  // later siblings wait on the stack while the walk goes down.
  const int32_t size = bucket_size_of(depth);
  NodeStack later;
  for (;;) {
    while (node) {
      if (level >= 0) {
        int32_t bucket = level / size;
        intArr& counts = depth.counts;
        if (bucket < counts.count) {
          counts.data[bucket] = add_count(counts.data[bucket], node->visitors);
        } else if (counts.insert_at(node->visitors, counts.count) != 0) {
          counts.clear();
          return ERR_MEM;
        }
      }
      if (node->next_sibling && later.push(node->next_sibling, level) != 0) {
        depth.counts.clear();
        return ERR_MEM;
      }
      node = node->first_child;
      ++level;
    }
    if (later.empty()) return 0;
    node = later.top().node;
    level = later.top().level;
    later.pop();
  }
}

void print_node_path(PathNode* node, const Pgs& pages, const char* separator, bool separator_after) {
  for_each_on_path(node, [&pages, node, separator, separator_after](const PathNode* step) {
    print_html(page_name(pages, step->page));
    page_puts(step != node || separator_after ? separator : "");
  });
}

void print_page_map(const char* title, const char* key_label, int total, const char* value_label, int limit,
                    const Pgs& pages, const iiArr& map) {
  bool stopped = false;
  bool written = print_ranked_values(
      map.values.data, map.keys.count, "EEP", title, key_label, value_label, limit, false,
      [&map, &pages, &stopped, total](int32_t i, int32_t position) {
        int32_t value = map.values.data[position];
        if (value == 0) stopped = true;
        if (stopped) return;
        if (i != 0) html.spacer_row(4);
        html.ranked_row(i + 1, html_escape(page_name(pages, map.keys.data[position])).c_str(), value,
                        share_of(value, total));
      });
  if (written) html.line_break();
}

void print_entry_pages(const Paths& paths, const char* title, const char* key_label, int total,
                       const char* value_label, int limit, const Pgs& pages) {
  print_page_map(title, key_label, total, value_label, limit, pages, paths.page_stats.entry_pages);
}

void print_exit_pages(const Paths& paths, const char* title, const char* key_label, int total,
                      const char* value_label, int limit, const Pgs& pages) {
  print_page_map(title, key_label, total, value_label, limit, pages, paths.page_stats.exit_pages);
}

void print_single_view_pages(Paths& paths, const char* title, const char* key_label, int total,
                             const char* value_label, int limit, const Pgs& pages) {
  print_node_list(paths.single_view_pages, "SVP", title, key_label, total, value_label, limit, pages);
}

void print_visitor_paths(Paths& paths, const char* title, const char* key_label, int total,
                         const char* value_label, int limit, const Pgs& pages) {
  print_node_list(paths.endpoints, "PTH", title, key_label, total, value_label, limit, pages);
}

void print_visit_depth(const Paths& paths, const char* title, const char* key_label, int total,
                       const char* value_label, int limit) {
  const intArr& counts = paths.depth.counts;
  if (counts.count == 0) return;
  int32_t rows = list_title(title, counts.count, limit);
  html.section_title(line_buffer, "DEP");
  html.list_header(key_label, value_label);
  const std::size_t buffer = static_cast<std::size_t>(line_buffer_size());
  // Labels in 64 bits: a large configured increment cannot overflow them.
  const long long size = bucket_size_of(paths.depth);
  int64_t sum = 0;
  for (int32_t i = 0; i < rows; ++i) {
    if (i != 0) html.spacer_row(4);
    int64_t value;
    if (i != rows - 1) {
      if (size == 1) {
        format_into(line_buffer, buffer, "%i %s", i + 1, i == 0 ? "page" : "pages");
      } else {
        format_into(line_buffer, buffer, "%lld - %lld pages", i * size + 1, (i + 1) * size);
      }
      value = counts.data[i];
      sum += value;
    } else {
      // The last row shows whatever of the total the rows above did not.
      value = static_cast<int64_t>(total) - sum;
      format_into(line_buffer, buffer, "%lld + pages", i * size + 1);
    }
    int32_t shown = clamped(value);
    html.ranked_row(i + 1, line_buffer, shown, share_of(shown, total));
  }
  html.list_close();
  html.line_break();
}
