#ifndef QM_CORE_PATH_REPORTS_H
#define QM_CORE_PATH_REPORTS_H

#include <cstdint>

#include "core/paths.h"

class Pgs;

// The report side of the visitor paths. The day files' "PTH" lines are merged into
// one tree by Paths::read_paths (a node's visitors value is then the number of day
// paths of the report range that ended on it); afterwards collect_paths and
// depth_count derive the lists the five path sections print. Page numbers are
// those of the report's pages table, whose keys are the page names.
//
// Trees can be as deep as the longest day a visitor had, so nothing here recurses.

// The endpoints (walk order), the single-view pages (first-level endpoints, in the
// root's child order) and, when their reports are on, the entry and exit maps.
// 0, or -8 (the lists and maps are then left empty).
int collect_paths(Paths& paths);

// Adds every node's visitors value from `node` on (pre-order over first child and
// next sibling; `node` at `level`, its children one deeper) to the bucket of its
// level; levels below 0 are not counted. Called with the root and -1, a path of n
// pages counts in bucket (n - 1) / bucket size. 0, or -8 (the histogram is then
// left empty).
int depth_count(VisitDepth& depth, PathNode* node, int level);

// The page names from the first level down to the node, each escaped, joined by the
// separator (HTML, written as it stands), which also follows the node itself when
// `separator_after` is set. Nothing for the root.
void print_node_path(PathNode* node, const Pgs& pages, const char* separator, bool separator_after);

// A page map (entry or exit pages) ranked by value; the rows stop at the first
// value 0. Nothing for an empty map.
void print_page_map(const char* title, const char* key_label, int total, const char* value_label, int limit,
                    const Pgs& pages, const iiArr& map);

// The report sections. Each prints nothing when it has no entries.
void print_entry_pages(const Paths& paths, const char* title, const char* key_label, int total,
                       const char* value_label, int limit, const Pgs& pages);
void print_exit_pages(const Paths& paths, const char* title, const char* key_label, int total,
                      const char* value_label, int limit, const Pgs& pages);
void print_single_view_pages(Paths& paths, const char* title, const char* key_label, int total,
                             const char* value_label, int limit, const Pgs& pages);
void print_visitor_paths(Paths& paths, const char* title, const char* key_label, int total,
                         const char* value_label, int limit, const Pgs& pages);
// One row per bucket; the last row shown holds the rest of the total.
void print_visit_depth(const Paths& paths, const char* title, const char* key_label, int total,
                       const char* value_label, int limit);

#endif
