#include "app/dialog_layout.h"

#include <cstdlib>

#include "resources/resource.h"

namespace {

// IDCANCEL: the main window's Exit and the connections dialog's Cancel button.
constexpr uint32_t kExitButton = 2;
constexpr uint32_t kCancelButton = 2;
constexpr uint32_t kParent = kLayoutParentId;

// The working record of one control (entry 0 is the client area): its six metrics in
// pixels, which of them are valid, and whether any rule changes it.
struct Geometry {
    uint32_t id;
    uintptr_t window;
    int32_t value[kLayoutMetricCount];
    bool known[kLayoutMetricCount];
    bool untouched;
};

bool IsSize(int32_t metric) { return metric == MetricWidth || metric == MetricHeight; }
bool IsHorizontal(int32_t metric) { return metric % 2 == 0; }

// The metric a Resize also releases: a side's size, a size's far side.
int32_t Follower(int32_t metric) {
    if (IsSize(metric)) return metric - 2;
    return IsHorizontal(metric) ? MetricWidth : MetricHeight;
}
// The metric a Move also releases: the opposite side.
int32_t Opposite(int32_t metric) { return metric < 2 ? metric + 2 : metric - 2; }

void SetFromRect(Geometry* g, const LayoutRect& r) {
    const int32_t sides[4] = {r.left, r.top, r.right, r.bottom};
    for (int m = 0; m < 4; ++m) {
        g->value[m] = sides[m];
        g->known[m] = true;
    }
    g->value[MetricWidth] = r.right - r.left;
    g->value[MetricHeight] = r.bottom - r.top;
    g->known[MetricWidth] = g->known[MetricHeight] = true;
}

// Fills each missing metric that the two others of its axis give, in metric order.
void Derive(Geometry* g) {
    int32_t* v = g->value;
    bool* k = g->known;
    for (int32_t m = 0; m < kLayoutMetricCount; ++m) {
        if (k[m]) continue;
        const int32_t near = m % 2, far = near + 2, size = near + 4;
        if (m == near && k[far] && k[size]) v[m] = v[far] - v[size];
        else if (m == far && k[near] && k[size]) v[m] = v[near] + v[size];
        else if (m == size && k[near] && k[far]) v[m] = v[far] - v[near];
        else continue;
        k[m] = true;
    }
}

Geometry* Find(Geometry* list, size_t count, uint32_t id) {
    for (size_t i = 0; i < count; ++i) {
        if (list[i].id == id) return &list[i];
    }
    return nullptr;
}

// Checks one rule against the window; the problem it has, or kind -1.
LayoutProblem CheckRule(const LayoutRule& rule, Geometry* list, size_t count) {
    LayoutProblem problem = {-1, 0, -1};
    if (rule.action != LayoutResize && rule.action != LayoutMove) {
        problem.kind = LayoutInvalidAction;
    } else if (rule.metric < 0 || rule.metric >= kLayoutMetricCount || rule.referenceMetric < 0 ||
               rule.referenceMetric >= kLayoutMetricCount) {
        problem.kind = LayoutInvalidMetric;
    } else if (rule.action == LayoutMove && IsSize(rule.metric)) {
        problem.kind = LayoutInvalidSide;
    } else if (rule.target == kParent || !Find(list, count, rule.target)) {
        problem = {LayoutMissingControl, rule.target, -1};
    } else if (!Find(list, count, rule.reference)) {
        problem = {LayoutMissingControl, rule.reference, -1};
    }
    return problem;
}

// Applies one rule when its reference is known; true when it was applied.
bool ApplyRule(const LayoutRule& rule, int32_t pixelOffset, Geometry* list, size_t count) {
    const Geometry* reference = Find(list, count, rule.reference);
    if (!reference->known[rule.referenceMetric]) return false;
    int64_t value = reference->value[rule.referenceMetric];
    if (IsSize(rule.referenceMetric)) value = value * rule.percent / 100;
    Geometry* target = Find(list, count, rule.target);
    target->value[rule.metric] = static_cast<int32_t>(value) + pixelOffset;
    target->known[rule.metric] = true;
    Derive(target);
    return true;
}

struct Work {
    Geometry* list = nullptr;
    LayoutControl* controls = nullptr;
    int32_t* offsets = nullptr;
    bool* applied = nullptr;
    ~Work() {
        std::free(list);
        std::free(controls);
        std::free(offsets);
        std::free(applied);
    }
};

bool Report(const LayoutWindowOps& ops, LayoutProblem problem) {
    ops.report(ops.context, &problem);
    return false;
}

}  // namespace

const char* LayoutMetricName(int32_t metric) {
    static const char* const kNames[kLayoutMetricCount] = {"left", "top", "right", "bottom", "width", "height"};
    return metric >= 0 && metric < kLayoutMetricCount ? kNames[metric] : "?";
}

bool ApplyLayout(const LayoutWindowOps& ops, const LayoutRule* rules, size_t ruleCount) {
    if (ops.isMinimised(ops.context)) return true;
    for (size_t i = 0; i < ruleCount; ++i) {
        if (rules[i].action == LayoutEnd) ruleCount = i;
    }

    // The client area, then every child as it stands.
    LayoutRect client = {};
    size_t children = ops.listControls(ops.context, &client, nullptr, 0);
    if (children == 0) return true;
    Work work;
    work.controls = static_cast<LayoutControl*>(std::calloc(children, sizeof(LayoutControl)));
    work.list = static_cast<Geometry*>(std::calloc(children + 1, sizeof(Geometry)));
    work.offsets = static_cast<int32_t*>(std::calloc(ruleCount + 1, sizeof(int32_t)));
    work.applied = static_cast<bool*>(std::calloc(ruleCount + 1, sizeof(bool)));
    if (!work.controls || !work.list || !work.offsets || !work.applied) {
        return Report(ops, {LayoutOutOfMemory, 0, -1});
    }
    const size_t listed = ops.listControls(ops.context, &client, work.controls, children);
    if (listed < children) children = listed;  // a child went away between the two calls
    if (children == 0) return true;
    const size_t count = children + 1;
    work.list[0].id = kParent;
    SetFromRect(&work.list[0], client);
    for (size_t i = 0; i < children; ++i) {
        Geometry& g = work.list[i + 1];
        g.id = work.controls[i].id;
        g.window = work.controls[i].window;
        SetFromRect(&g, work.controls[i].rect);
        g.untouched = true;
    }

    // Every rule must fit the window before anything is released.
    for (size_t i = 0; i < ruleCount; ++i) {
        const LayoutProblem problem = CheckRule(rules[i], work.list, count);
        if (problem.kind >= 0) return Report(ops, problem);
    }
    for (size_t i = 0; i < ruleCount; ++i) {
        const LayoutRule& rule = rules[i];
        Geometry* target = Find(work.list, count, rule.target);
        target->untouched = false;
        target->known[rule.metric] = false;
        target->known[rule.action == LayoutResize ? Follower(rule.metric) : Opposite(rule.metric)] = false;
        work.offsets[i] = ops.toPixels(ops.context, rule.offset, IsHorizontal(rule.metric));
    }

    // Passes until one applies nothing.
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = 0; i < ruleCount; ++i) {
            if (work.applied[i] || !ApplyRule(rules[i], work.offsets[i], work.list, count)) continue;
            work.applied[i] = true;
            progress = true;
        }
    }
    for (size_t i = 0; i < ruleCount; ++i) {
        if (!work.applied[i]) return Report(ops, {LayoutUnappliedRules, 0, -1});
    }

    bool ok = true;
    size_t moving = 0;
    for (size_t i = 1; i < count; ++i) {
        const Geometry& g = work.list[i];
        for (int32_t m = 0; m < kLayoutMetricCount; ++m) {
            if (!g.known[m]) ok = Report(ops, {LayoutUndetermined, g.id, m});
        }
        if (g.untouched) continue;
        const int32_t width = g.value[MetricWidth] > 0 ? g.value[MetricWidth] : 0;
        const int32_t height = g.value[MetricHeight] > 0 ? g.value[MetricHeight] : 0;
        const int32_t left = g.value[MetricLeft], top = g.value[MetricTop];
        work.controls[moving++] = {g.id, g.window, {left, top, left + width, top + height}};
    }
    if (moving > 0) ops.moveControls(ops.context, work.controls, moving);
    return ok;
}

namespace {

constexpr LayoutRule Rule(int32_t action, uint32_t target, int32_t metric, uint32_t reference, int32_t referenceMetric,
                          int32_t offset, int32_t percent = 100) {
    return {action, metric, target, referenceMetric, reference, percent, offset};
}
constexpr LayoutRule Move(uint32_t target, int32_t metric, uint32_t reference, int32_t referenceMetric,
                          int32_t offset) {
    return Rule(LayoutMove, target, metric, reference, referenceMetric, offset);
}
constexpr LayoutRule Resize(uint32_t target, int32_t metric, uint32_t reference, int32_t referenceMetric,
                            int32_t offset, int32_t percent = 100) {
    return Rule(LayoutResize, target, metric, reference, referenceMetric, offset, percent);
}

constexpr int32_t L = MetricLeft, T = MetricTop, R = MetricRight, B = MetricBottom, W = MetricWidth, H = MetricHeight;

// Rules 3 and 6 take the help and search buttons' widths (negated) on every layout.
constexpr size_t kHelpWidthRule = 2, kSearchWidthRule = 5;
constexpr int32_t kHelpWidth = 48, kSearchWidth = 105, kNarrowBelow = 696;

// The buttons keep to the bottom right, the report options to the bottom left; the tree
// takes the left half and the height above the options; the property panel the rest.
const LayoutRule kMainLayout[kMainLayoutRuleCount] = {
    Move(ID_HELP, R, kParent, R, -21),
    Move(ID_HELP, B, kParent, B, -18),
    Resize(ID_HELP, L, ID_HELP, R, -kHelpWidth),
    Move(IDC_LOCKED_DLL, R, kParent, R, -21),
    Move(IDC_LOCKED_DLL, B, ID_HELP, T, -11),
    Resize(IDC_LOCKED_DLL, L, IDC_LOCKED_DLL, R, -kSearchWidth),
    Resize(kExitButton, W, ID_HELP, W, 0),
    Move(kExitButton, L, IDC_LOCKED_DLL, L, 0),
    Move(kExitButton, B, kParent, B, -18),
    Move(IDC_SAVE, R, kExitButton, L, -15),
    Move(IDC_SAVE, B, kParent, B, -18),
    Resize(IDC_SAVE, W, ID_HELP, W, 0),
    Move(IDC_REFRESH, R, IDC_LOCKED_DLL, L, -15),
    Move(IDC_REFRESH, B, ID_HELP, T, -11),
    Resize(IDC_REFRESH, W, ID_HELP, W, 0),
    Move(IDC_GROUP_OPTIONS, B, kParent, B, -8),
    Move(IDC_OPT_CONNECTIONS, B, kParent, B, -14),
    Move(IDC_OPT_PROCESSES, B, IDC_OPT_CONNECTIONS, B, -14),
    Move(IDC_MODULES_ALL, B, kParent, B, -20),
    Move(IDC_OPT_AUTORUN, B, IDC_OPT_PROCESSES, B, -14),
    Move(IDC_MODULES_SELECTED, B, IDC_MODULES_ALL, B, -17),
    Resize(IDC_TREE, R, kParent, W, 2, 50),
    Resize(IDC_TREE, B, IDC_GROUP_OPTIONS, T, -4),
    Move(IDC_LABEL_1049, L, IDC_TREE, R, 7),
    Move(IDC_FIELD_1031, L, IDC_LABEL_1049, R, 0),
    Resize(IDC_FIELD_1031, R, kParent, R, -35),
    Move(IDC_GROUP_GENERAL, L, IDC_TREE, R, 0),
    Resize(IDC_GROUP_GENERAL, R, kParent, R, -8),
    Resize(IDC_GROUP_GENERAL, H, IDC_TREE, H, 0, 28),
    Move(IDC_LABEL_1042, L, IDC_TREE, R, 7),
    Move(IDC_FIELD_1032, L, IDC_LABEL_1042, R, 0),
    Resize(IDC_FIELD_1032, R, kParent, R, -11),
    Resize(IDC_LABEL_1043, W, IDC_LABEL_1042, W, 0),
    Move(IDC_LABEL_1043, L, IDC_TREE, R, 7),
    Move(IDC_FIELD_1037, L, IDC_LABEL_1043, R, 0),
    Resize(IDC_FIELD_1037, R, kParent, R, -11),
    Resize(IDC_FIELD_1037, B, IDC_GROUP_GENERAL, B, -2),
    Move(IDC_FIELD_1070, L, IDC_LABEL_1043, R, 0),
    Resize(IDC_FIELD_1070, R, kParent, R, -11),
    Move(IDC_LABEL_1069, L, IDC_TREE, R, 7),
    Move(IDC_FIELD_1071, L, IDC_LABEL_1069, R, 0),
    Resize(IDC_FIELD_1071, R, kParent, R, -11),
    Resize(IDC_FIELD_1071, B, IDC_GROUP_GENERAL, B, -2),
    Move(IDC_GROUP_FILE, L, IDC_TREE, R, 0),
    Move(IDC_GROUP_FILE, T, IDC_GROUP_GENERAL, B, 1),
    Resize(IDC_GROUP_FILE, R, kParent, R, -8),
    Resize(IDC_GROUP_FILE, B, IDC_TREE, B, 0),
    Move(IDC_LABEL_1044, L, IDC_TREE, R, 7),
    Move(IDC_LABEL_1044, T, IDC_FIELD_1037, B, 13),
    Move(IDC_FIELD_1038, L, IDC_LABEL_1044, R, 0),
    Move(IDC_FIELD_1038, T, IDC_GROUP_GENERAL, B, 7),
    Resize(IDC_FIELD_1038, R, kParent, R, -11),
    Resize(IDC_FIELD_1038, H, IDC_GROUP_FILE, H, -27, 50),
    Move(IDC_LABEL_1045, L, IDC_TREE, R, 7),
    Move(IDC_LABEL_1045, T, IDC_FIELD_1038, B, 0),
    Move(IDC_FIELD_1033, L, IDC_LABEL_1045, R, 0),
    Move(IDC_FIELD_1033, T, IDC_FIELD_1038, B, 0),
    Resize(IDC_FIELD_1033, R, kParent, R, -11),
    Move(IDC_LABEL_1046, L, IDC_TREE, R, 7),
    Move(IDC_LABEL_1046, T, IDC_FIELD_1033, B, 0),
    Move(IDC_FIELD_1034, L, IDC_LABEL_1046, R, 0),
    Move(IDC_FIELD_1034, T, IDC_FIELD_1033, B, 0),
    Resize(IDC_FIELD_1034, R, kParent, R, -11),
    Move(IDC_LABEL_1047, L, IDC_TREE, R, 7),
    Move(IDC_LABEL_1047, T, IDC_FIELD_1034, B, 0),
    Move(IDC_FIELD_1035, L, IDC_LABEL_1047, R, 0),
    Move(IDC_FIELD_1035, T, IDC_FIELD_1034, B, 0),
    Resize(IDC_FIELD_1035, R, kParent, R, -11),
    Move(IDC_LABEL_1048, L, IDC_TREE, R, 7),
    Move(IDC_LABEL_1048, T, IDC_FIELD_1035, B, 0),
    Move(IDC_FIELD_1036, L, IDC_LABEL_1048, R, 0),
    Move(IDC_FIELD_1036, T, IDC_FIELD_1035, B, 0),
    Resize(IDC_FIELD_1036, R, kParent, R, -11),
    Resize(IDC_FIELD_1036, B, IDC_TREE, B, -2),
    Move(IDC_LIST_CAPTION, L, IDC_TREE, R, 40),
    Move(IDC_LIST, L, IDC_TREE, R, 40),
    Resize(IDC_LIST, R, IDC_LIST_CAPTION, R, 0),
    Resize(IDC_LIST, B, IDC_TREE, B, -20),
};

}  // namespace

const LayoutRule kConnectionsLayout[kConnectionsLayoutRuleCount] = {
    Resize(IDC_CONNECTIONS_HEADING, R, kParent, R, 0),
    Move(kCancelButton, R, kParent, R, 0),
    Move(kCancelButton, B, kParent, B, 0),
    Move(IDC_CONNECTIONS_SAVE, R, kCancelButton, L, -10),
    Move(IDC_CONNECTIONS_SAVE, B, kParent, B, 0),
    Move(IDC_CONNECTIONS_CHECK, R, IDC_CONNECTIONS_SAVE, L, -10),
    Move(IDC_CONNECTIONS_CHECK, B, kParent, B, 0),
    Resize(IDC_CONNECTIONS_LIST, R, kParent, R, 0),
    // Down to the tallest button, Save, so that the list never covers it.
    Resize(IDC_CONNECTIONS_LIST, B, IDC_CONNECTIONS_SAVE, T, 0),
};

void MainWindowLayout(int32_t clientWidth, LayoutRule rules[kMainLayoutRuleCount]) {
    for (size_t i = 0; i < kMainLayoutRuleCount; ++i) rules[i] = kMainLayout[i];
    int32_t help = kHelpWidth, search = kSearchWidth;
    if (clientWidth < kNarrowBelow) {
        help -= (kNarrowBelow - clientWidth) / 4;
        search -= (kNarrowBelow - clientWidth) / 2;
    }
    rules[kHelpWidthRule].offset = -help;
    rules[kSearchWidthRule].offset = -search;
}
