// Resizable dialogs: tables of rules that tie a side or size of one control to a side or
// size of another control (or of the client area), and the solver that turns a table and
// the window's current rectangles into new control positions. The window is reached
// through LayoutWindowOps; app/win/dialog_layout_win.h has the real one.
#pragma once

#include <cstddef>
#include <cstdint>

enum LayoutMetric : int32_t {
    MetricLeft = 0,
    MetricTop = 1,
    MetricRight = 2,
    MetricBottom = 3,
    MetricWidth = 4,
    MetricHeight = 5,
};
constexpr int32_t kLayoutMetricCount = 6;

enum LayoutAction : int32_t {
    LayoutResize = 0,  // the metric changes, the opposite side stays
    LayoutMove = 1,    // the metric changes, the size stays
    LayoutEnd = 4,     // ends a table before its declared length
};

// The reference ID that means the window's own client area.
constexpr uint32_t kLayoutParentId = 0x10000;

// target.metric = reference.referenceMetric (scaled to percent when it is a size) + offset,
// the offset in dialog units of the window.
struct LayoutRule {
    int32_t action;
    int32_t metric;
    uint32_t target;
    int32_t referenceMetric;
    uint32_t reference;
    int32_t percent;
    int32_t offset;
};

struct LayoutRect {
    int32_t left, top, right, bottom;
};

// A direct child of the window: its control ID, a handle the window side knows it by,
// and its rectangle in client coordinates.
struct LayoutControl {
    uint32_t id;
    uintptr_t window;
    LayoutRect rect;
};

enum LayoutProblemKind : int32_t {
    LayoutUnappliedRules,   // some rule never found its reference (a cycle, or nothing provides it)
    LayoutMissingControl,   // a rule names a control that is not a child of the window
    LayoutInvalidSide,      // a Move of a width or height
    LayoutInvalidMetric,    // a metric outside 0 to 5
    LayoutInvalidAction,    // neither Resize nor Move
    LayoutUndetermined,     // a metric of a control that no rule settles (controlId, metric)
    LayoutOutOfMemory,
};

struct LayoutProblem {
    int32_t kind;
    uint32_t controlId;  // LayoutMissingControl, LayoutUndetermined: the control; else 0
    int32_t metric;      // LayoutUndetermined: the metric; else -1
};

// What the solver needs of the window. No pointer may be null.
struct LayoutWindowOps {
    void* context;
    // Non-zero while the window is minimised.
    int (*isMinimised)(void* context);
    // The client rectangle and the direct children in window order (top of the Z order
    // first): writes at most capacity children and returns how many there are.
    size_t (*listControls)(void* context, LayoutRect* client, LayoutControl* controls, size_t capacity);
    // Dialog units in pixels by the window's own mapping; horizontal non-zero for x.
    int32_t (*toPixels)(void* context, int32_t units, int horizontal);
    // Places every control given (rectangles with no negative size) at once, without
    // changing the Z order, and repaints them.
    void (*moveControls)(void* context, const LayoutControl* controls, size_t count);
    // Tells about a table that does not fit the window.
    void (*report)(void* context, const LayoutProblem* problem);
};

// Lays the window's children out by the first ruleCount rules (fewer when a LayoutEnd
// rule comes first). A minimised window and one without children are left as they are.
// A rule that is invalid, names a missing control or never finds its reference is
// reported and nothing moves; metrics that no rule settles are reported and the
// controls still move. True when nothing was reported.
bool ApplyLayout(const LayoutWindowOps& ops, const LayoutRule* rules, size_t ruleCount);

// "left", "top", "right", "bottom", "width", "height"; "?" outside 0 to 5.
const char* LayoutMetricName(int32_t metric);

// The main window: its rules for a client width in pixels (the help and search buttons
// narrow below 696 pixels), and its smallest outer size in pixels.
constexpr size_t kMainLayoutRuleCount = 78;
void MainWindowLayout(int32_t clientWidth, LayoutRule rules[kMainLayoutRuleCount]);
constexpr int32_t kMainWindowMinWidth = 640;
constexpr int32_t kMainWindowMinHeight = 400;

// The connections dialog: heading and list stretch right, the list down to the buttons,
// which keep to the bottom right.
constexpr size_t kConnectionsLayoutRuleCount = 9;
extern const LayoutRule kConnectionsLayout[kConnectionsLayoutRuleCount];
