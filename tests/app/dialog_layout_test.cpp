// The layout solver over the main window's and the connections dialog's rule tables,
// on a window made of the templates' controls, against rectangles worked out here from
// the rules; and tables that do not fit the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/dialog_layout.h"
#include "resources/resource.h"

namespace {

// Dialog units of the fake window: 3/2 pixel across, 13/8 down, truncated like the solver.
int32_t X(int32_t units) { return units * 3 / 2; }
int32_t Y(int32_t units) { return units * 13 / 8; }

struct Box {
    int32_t l, t, r, b;
    bool operator==(const Box& o) const { return l == o.l && t == o.t && r == o.r && b == o.b; }
};
void PrintTo(const Box& x, std::ostream* out) { *out << x.l << "," << x.t << "," << x.r << "," << x.b; }
int32_t Width(const Box& x) { return x.r - x.l; }
int32_t Height(const Box& x) { return x.b - x.t; }

// Controls of a template: ID and x, y, w, h in dialog units.
struct Placed {
    uint32_t id;
    int32_t x, y, w, h;
};
const Placed kMainTemplate[] = {
    {IDC_TREE, 7, 7, 224, 186}, {IDC_REFRESH, 273, 202, 47, 14}, {IDC_SAVE, 272, 226, 47, 14},
    {IDC_LOCKED_DLL, 334, 202, 109, 14}, {2, 334, 226, 48, 14}, {ID_HELP, 396, 226, 47, 14},
    {IDC_GROUP_OPTIONS, 7, 196, 256, 54}, {IDC_OPT_AUTORUN, 13, 209, 121, 10}, {IDC_OPT_PROCESSES, 13, 221, 104, 10},
    {IDC_OPT_CONNECTIONS, 13, 233, 112, 10}, {IDC_MODULES_SELECTED, 142, 212, 111, 10},
    {IDC_MODULES_ALL, 142, 228, 113, 10}, {IDC_GROUP_GENERAL, 232, 24, 224, 54}, {IDC_GROUP_FILE, 233, 79, 223, 114},
    {IDC_LABEL_1049, 239, 13, 55, 8}, {IDC_LABEL_1042, 239, 34, 55, 8}, {IDC_LABEL_1043, 239, 45, 55, 8},
    {IDC_LABEL_1069, 239, 59, 55, 8}, {IDC_LABEL_1044, 239, 91, 55, 8}, {IDC_LABEL_1045, 239, 118, 55, 8},
    {IDC_LABEL_1046, 239, 129, 55, 8}, {IDC_LABEL_1047, 239, 142, 55, 8}, {IDC_LABEL_1048, 239, 155, 55, 8},
    {IDC_FIELD_1031, 296, 13, 133, 12}, {IDC_FIELD_1032, 296, 32, 153, 13}, {IDC_FIELD_1037, 296, 46, 153, 31},
    {IDC_FIELD_1070, 295, 44, 161, 12}, {IDC_FIELD_1071, 295, 60, 161, 12}, {IDC_FIELD_1038, 296, 85, 153, 29},
    {IDC_FIELD_1033, 296, 115, 153, 12}, {IDC_FIELD_1034, 296, 129, 153, 12}, {IDC_FIELD_1035, 296, 142, 153, 12},
    {IDC_FIELD_1036, 296, 155, 153, 35}, {IDC_LIST_CAPTION, 286, 19, 132, 8}, {IDC_LIST, 287, 35, 124, 144},
};
const Placed kConnectionsTemplate[] = {
    {IDC_CONNECTIONS_HEADING, 7, 7, 417, 8}, {IDC_CONNECTIONS_LIST, 7, 16, 417, 190},
    {IDC_CONNECTIONS_CHECK, 250, 213, 50, 14}, {IDC_CONNECTIONS_SAVE, 314, 212, 49, 15}, {2, 374, 213, 50, 14},
};

// A window of such controls that records what the solver moves and reports.
struct FakeWindow {
    bool minimised = false;
    LayoutRect client = {};
    std::vector<LayoutControl> controls;
    std::map<uint32_t, Box> moved;
    int moveCalls = 0;
    std::vector<LayoutProblem> problems;

    template <size_t n>
    FakeWindow(const Placed (&placed)[n], int32_t width, int32_t height) : client{0, 0, width, height} {
        for (const Placed& p : placed) controls.push_back({p.id, p.id, {X(p.x), Y(p.y), X(p.x + p.w), Y(p.y + p.h)}});
    }
    Box Template(uint32_t id) const {
        for (const LayoutControl& c : controls) {
            if (c.id == id) return {c.rect.left, c.rect.top, c.rect.right, c.rect.bottom};
        }
        return {};
    }
    static FakeWindow* Of(void* w) { return static_cast<FakeWindow*>(w); }
    static int IsMinimised(void* w) { return Of(w)->minimised; }
    static size_t List(void* w, LayoutRect* client, LayoutControl* out, size_t capacity) {
        *client = Of(w)->client;
        std::copy_n(Of(w)->controls.begin(), std::min(capacity, Of(w)->controls.size()), out);
        return Of(w)->controls.size();
    }
    static int32_t ToPixels(void*, int32_t units, int horizontal) { return horizontal ? X(units) : Y(units); }
    static void Move(void* w, const LayoutControl* c, size_t count) {
        ++Of(w)->moveCalls;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(c[i].window, c[i].id);
            Of(w)->moved[c[i].id] = {c[i].rect.left, c[i].rect.top, c[i].rect.right, c[i].rect.bottom};
        }
    }
    static void Report(void* w, const LayoutProblem* p) { Of(w)->problems.push_back(*p); }
    bool Apply(const LayoutRule* rules, size_t count) {
        return ApplyLayout({this, IsMinimised, List, ToPixels, Move, Report}, rules, count);
    }
};

// The main window's rectangles as its rules place them, from the bottom right corner up.
std::map<uint32_t, Box> ExpectedMain(const FakeWindow& w, int32_t helpUnits, int32_t searchUnits) {
    const int32_t cw = w.client.right, ch = w.client.bottom;
    std::map<uint32_t, Box> e;
    auto keepHeight = [&](uint32_t id, int32_t l, int32_t r, int32_t b) {
        e[id] = {l, b - Height(w.Template(id)), r, b};
    };
    const int32_t helpRight = cw + X(-21), bottom = ch + Y(-18);
    keepHeight(ID_HELP, helpRight + X(-helpUnits), helpRight, bottom);
    const int32_t help = Width(e[ID_HELP]);
    keepHeight(IDC_LOCKED_DLL, helpRight + X(-searchUnits), helpRight, e[ID_HELP].t + Y(-11));
    const int32_t searchLeft = e[IDC_LOCKED_DLL].l;
    keepHeight(2, searchLeft, searchLeft + help, bottom);
    keepHeight(IDC_SAVE, searchLeft + X(-15) - help, searchLeft + X(-15), bottom);
    keepHeight(IDC_REFRESH, searchLeft + X(-15) - help, searchLeft + X(-15), e[ID_HELP].t + Y(-11));
    const Box options = w.Template(IDC_GROUP_OPTIONS);
    keepHeight(IDC_GROUP_OPTIONS, options.l, options.r, ch + Y(-8));
    keepHeight(IDC_OPT_AUTORUN, w.Template(IDC_OPT_AUTORUN).l, w.Template(IDC_OPT_AUTORUN).r,
               ch + Y(-14) + 2 * Y(-14));
    keepHeight(IDC_MODULES_SELECTED, w.Template(IDC_MODULES_SELECTED).l, w.Template(IDC_MODULES_SELECTED).r,
               ch + Y(-20) + Y(-17));
    const Box tree = {w.Template(IDC_TREE).l, w.Template(IDC_TREE).t, cw * 50 / 100 + X(2),
                      e[IDC_GROUP_OPTIONS].t + Y(-4)};
    e[IDC_TREE] = tree;
    const int32_t generalTop = w.Template(IDC_GROUP_GENERAL).t;
    e[IDC_GROUP_GENERAL] = {tree.r, generalTop, cw + X(-8), generalTop + Height(tree) * 28 / 100};
    const Box general = e[IDC_GROUP_GENERAL];
    const int32_t labelLeft = tree.r + X(7), labelWidth = Width(w.Template(IDC_LABEL_1049));
    e[IDC_FIELD_1031] = {labelLeft + labelWidth, w.Template(IDC_FIELD_1031).t, cw + X(-35), w.Template(IDC_FIELD_1031).b};
    e[IDC_FIELD_1037] = {labelLeft + labelWidth, w.Template(IDC_FIELD_1037).t, cw + X(-11), general.b + Y(-2)};
    keepHeight(IDC_LABEL_1044, labelLeft, labelLeft + labelWidth, e[IDC_FIELD_1037].b + Y(13) + Height(w.Template(IDC_LABEL_1044)));
    e[IDC_GROUP_FILE] = {tree.r, general.b + Y(1), cw + X(-8), tree.b};
    const int32_t pathTop = general.b + Y(7);
    e[IDC_FIELD_1038] = {labelLeft + labelWidth, pathTop, cw + X(-11),
                         pathTop + Height(e[IDC_GROUP_FILE]) * 50 / 100 + Y(-27)};
    const int32_t descriptionTop = e[IDC_FIELD_1038].b + Height(w.Template(IDC_FIELD_1033)) +
                                   Height(w.Template(IDC_FIELD_1034)) + Height(w.Template(IDC_FIELD_1035));
    e[IDC_FIELD_1036] = {labelLeft + labelWidth, descriptionTop, cw + X(-11), tree.b + Y(-2)};
    const int32_t listLeft = tree.r + X(40);
    e[IDC_LIST] = {listLeft, w.Template(IDC_LIST).t, listLeft + Width(w.Template(IDC_LIST_CAPTION)), tree.b + Y(-20)};
    for (auto& [id, box] : e) {  // negative sizes are placed as 0
        box.r = std::max(box.r, box.l);
        box.b = std::max(box.b, box.t);
    }
    return e;
}

TEST(DialogLayout, MainWindowAtEverySize) {
    struct Size {
        int32_t width, height, helpUnits, searchUnits;
    } sizes[] = {
        {1200, 800, 48, 105},  // wide
        {696, 450, 48, 105},   // exactly where the buttons start to narrow
        {690, 450, 47, 102},   // (696 - 690) / 4 = 1, / 2 = 3
        {660, 420, 39, 87},
        {630, 352, 32, 72},    // the client area of the smallest window
        {200, 90, -76, -143},  // smaller than allowed: negative sizes are placed as 0
    };
    for (const Size& s : sizes) {
        SCOPED_TRACE(s.width);
        FakeWindow window(kMainTemplate, s.width, s.height);
        LayoutRule rules[kMainLayoutRuleCount];
        MainWindowLayout(s.width, rules);
        EXPECT_TRUE(window.Apply(rules, kMainLayoutRuleCount));
        EXPECT_TRUE(window.problems.empty());
        EXPECT_EQ(window.moveCalls, 1);
        // Every control is named by some rule, so every one moves, none to a negative size.
        EXPECT_EQ(window.moved.size(), std::size(kMainTemplate));
        for (const auto& [id, box] : window.moved) EXPECT_TRUE(box.r >= box.l && box.b >= box.t) << id;
        for (const auto& [id, box] : ExpectedMain(window, s.helpUnits, s.searchUnits)) {
            EXPECT_EQ(window.moved[id], box) << "control " << id;
        }
    }
}

TEST(DialogLayout, ConnectionsDialogAndAMinimisedWindow) {
    for (const int32_t width : {646, 1280}) {
        const int32_t height = width * 3 / 4;
        FakeWindow window(kConnectionsTemplate, width, height);
        EXPECT_TRUE(window.Apply(kConnectionsLayout, kConnectionsLayoutRuleCount));
        auto keepSize = [&](uint32_t id, int32_t right) {
            const Box t = window.Template(id);
            return Box{right - Width(t), height - Height(t), right, height};
        };
        const Box cancel = keepSize(2, width);
        const Box save = keepSize(IDC_CONNECTIONS_SAVE, cancel.l + X(-10));
        const Box check = keepSize(IDC_CONNECTIONS_CHECK, save.l + X(-10));
        EXPECT_EQ(window.moved[2], cancel);
        EXPECT_EQ(window.moved[IDC_CONNECTIONS_SAVE], save);
        EXPECT_EQ(window.moved[IDC_CONNECTIONS_CHECK], check);
        EXPECT_EQ(window.moved[IDC_CONNECTIONS_LIST], (Box{X(7), Y(16), width, save.t}));
        EXPECT_EQ(window.moved[IDC_CONNECTIONS_HEADING], (Box{X(7), Y(7), width, Y(15)}));
    }
    // Minimised, or without children: nothing to lay out, and that is no failure.
    FakeWindow minimised(kConnectionsTemplate, 0, 0);
    minimised.minimised = true;
    FakeWindow empty(kConnectionsTemplate, 300, 200);
    empty.controls.clear();
    for (FakeWindow* w : {&minimised, &empty}) {
        EXPECT_TRUE(w->Apply(kConnectionsLayout, kConnectionsLayoutRuleCount));
        EXPECT_EQ(w->moveCalls, 0);
        EXPECT_TRUE(w->problems.empty());
    }
}

LayoutRule Rule(int32_t action, uint32_t target, int32_t metric, uint32_t reference, int32_t offset = 0) {
    return {action, metric, target, metric, reference, 100, offset};
}

TEST(DialogLayout, TablesThatDoNotFitTheWindow) {
    const uint32_t a = IDC_CONNECTIONS_CHECK, b = IDC_CONNECTIONS_SAVE;
    const LayoutRule valid = Rule(LayoutMove, a, MetricLeft, kLayoutParentId, 1);
    const struct {
        std::vector<LayoutRule> rules;
        int32_t kind;
        uint32_t controlId;
    } cases[] = {
        {{Rule(LayoutMove, a, MetricLeft, b), Rule(LayoutMove, b, MetricLeft, a)}, LayoutUnappliedRules, 0},
        {{valid, Rule(LayoutMove, 4242, MetricTop, kLayoutParentId)}, LayoutMissingControl, 4242},
        {{valid, Rule(LayoutMove, a, MetricTop, 4243)}, LayoutMissingControl, 4243},
        {{Rule(LayoutResize, kLayoutParentId, MetricTop, a)}, LayoutMissingControl, kLayoutParentId},
        {{valid, Rule(LayoutMove, a, MetricWidth, b)}, LayoutInvalidSide, 0},
        {{valid, Rule(LayoutResize, a, 6, b)}, LayoutInvalidMetric, 0},
        {{valid, Rule(2, a, MetricTop, b)}, LayoutInvalidAction, 0},
    };
    for (const auto& c : cases) {
        FakeWindow window(kConnectionsTemplate, 600, 400);
        EXPECT_FALSE(window.Apply(c.rules.data(), c.rules.size()));
        EXPECT_EQ(window.moveCalls, 0) << "something moved, case " << c.kind;
        ASSERT_EQ(window.problems.size(), 1u);
        EXPECT_EQ(window.problems[0].kind, c.kind);
        EXPECT_EQ(window.problems[0].controlId, c.controlId);
    }

    // Left set twice and nothing for right or width: both reported, the control still moves.
    FakeWindow window(kConnectionsTemplate, 600, 400);
    const LayoutRule twice[] = {valid, Rule(LayoutResize, a, MetricLeft, kLayoutParentId, 5)};
    EXPECT_FALSE(window.Apply(twice, 2));
    ASSERT_EQ(window.problems.size(), 2u);
    EXPECT_EQ(window.problems[0].controlId, a);
    EXPECT_EQ(LayoutMetricName(window.problems[0].metric), std::string("right"));
    EXPECT_EQ(LayoutMetricName(window.problems[1].metric), std::string("width"));
    EXPECT_EQ(window.moved[a].l, X(5));

    // An end rule ends the table: what follows it is not read.
    FakeWindow ended(kConnectionsTemplate, 600, 400);
    const LayoutRule withEnd[] = {valid, Rule(LayoutEnd, 0, 0, 0), Rule(9, 9, 9, 9)};
    EXPECT_TRUE(ended.Apply(withEnd, 3));
    EXPECT_EQ(ended.moved[a].l, X(1));
}

}  // namespace
