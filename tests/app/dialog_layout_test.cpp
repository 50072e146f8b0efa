// The layout solver on a window in memory: how its rules move and size controls, the
// main window's buttons narrowing with its width, the connections dialog's list stopping
// at its buttons, and tables that do not fit the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
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

// Controls of a window: ID and rectangle in pixels.
struct Placed {
    uint32_t id;
    Box box;
};
// The main window's and the connections dialog's templates, in pixels of dialog units.
std::vector<Placed> Template(std::initializer_list<std::pair<uint32_t, Box>> units) {
    std::vector<Placed> out;
    for (const auto& [id, u] : units) out.push_back({id, {X(u.l), Y(u.t), X(u.l + u.r), Y(u.t + u.b)}});
    return out;
}
const std::vector<Placed> kMain = Template({
    {IDC_TREE, {7, 7, 224, 186}}, {IDC_REFRESH, {273, 202, 47, 14}}, {IDC_SAVE, {272, 226, 47, 14}},
    {IDC_LOCKED_DLL, {334, 202, 109, 14}}, {2, {334, 226, 48, 14}}, {ID_HELP, {396, 226, 47, 14}},
    {IDC_GROUP_OPTIONS, {7, 196, 256, 54}}, {IDC_OPT_AUTORUN, {13, 209, 121, 10}}, {IDC_OPT_PROCESSES, {13, 221, 104, 10}},
    {IDC_OPT_CONNECTIONS, {13, 233, 112, 10}}, {IDC_MODULES_SELECTED, {142, 212, 111, 10}},
    {IDC_MODULES_ALL, {142, 228, 113, 10}}, {IDC_GROUP_GENERAL, {232, 24, 224, 54}}, {IDC_GROUP_FILE, {233, 79, 223, 114}},
    {IDC_LABEL_1049, {239, 13, 55, 8}}, {IDC_LABEL_1042, {239, 34, 55, 8}}, {IDC_LABEL_1043, {239, 45, 55, 8}},
    {IDC_LABEL_1069, {239, 59, 55, 8}}, {IDC_LABEL_1044, {239, 91, 55, 8}}, {IDC_LABEL_1045, {239, 118, 55, 8}},
    {IDC_LABEL_1046, {239, 129, 55, 8}}, {IDC_LABEL_1047, {239, 142, 55, 8}}, {IDC_LABEL_1048, {239, 155, 55, 8}},
    {IDC_FIELD_1031, {296, 13, 133, 12}}, {IDC_FIELD_1032, {296, 32, 153, 13}}, {IDC_FIELD_1037, {296, 46, 153, 31}},
    {IDC_FIELD_1070, {295, 44, 161, 12}}, {IDC_FIELD_1071, {295, 60, 161, 12}}, {IDC_FIELD_1038, {296, 85, 153, 29}},
    {IDC_FIELD_1033, {296, 115, 153, 12}}, {IDC_FIELD_1034, {296, 129, 153, 12}}, {IDC_FIELD_1035, {296, 142, 153, 12}},
    {IDC_FIELD_1036, {296, 155, 153, 35}}, {IDC_LIST_CAPTION, {286, 19, 132, 8}}, {IDC_LIST, {287, 35, 124, 144}},
});
const std::vector<Placed> kConnections = Template({
    {IDC_CONNECTIONS_HEADING, {7, 7, 417, 8}}, {IDC_CONNECTIONS_LIST, {7, 16, 417, 190}},
    {IDC_CONNECTIONS_CHECK, {250, 213, 50, 14}}, {IDC_CONNECTIONS_SAVE, {314, 212, 49, 15}}, {2, {374, 213, 50, 14}},
});

// A window of such controls that records what the solver moves and reports.
struct FakeWindow {
    bool minimised = false;
    LayoutRect client;
    std::vector<Placed> controls;
    std::map<uint32_t, Box> moved;
    int moveCalls = 0;
    std::vector<LayoutProblem> problems;

    FakeWindow(std::vector<Placed> placed, int32_t width, int32_t height)
        : client{0, 0, width, height}, controls(std::move(placed)) {}
    static FakeWindow* Of(void* w) { return static_cast<FakeWindow*>(w); }
    static size_t List(void* w, LayoutRect* client, LayoutControl* out, size_t capacity) {
        *client = Of(w)->client;
        for (size_t i = 0; i < std::min(capacity, Of(w)->controls.size()); ++i) {
            const Placed& p = Of(w)->controls[i];
            out[i] = {p.id, p.id, {p.box.l, p.box.t, p.box.r, p.box.b}};
        }
        return Of(w)->controls.size();
    }
    static void Move(void* w, const LayoutControl* c, size_t count) {
        ++Of(w)->moveCalls;
        for (size_t i = 0; i < count; ++i) {
            EXPECT_EQ(c[i].window, c[i].id);
            Of(w)->moved[c[i].id] = {c[i].rect.left, c[i].rect.top, c[i].rect.right, c[i].rect.bottom};
        }
    }
    bool Apply(const LayoutRule* rules, size_t count) {
        const LayoutWindowOps ops = {
            this, [](void* w) { return Of(w)->minimised ? 1 : 0; }, List,
            [](void*, int32_t units, int horizontal) { return horizontal ? X(units) : Y(units); }, Move,
            [](void* w, const LayoutProblem* p) { Of(w)->problems.push_back(*p); }};
        return ApplyLayout(ops, rules, count);
    }
};

LayoutRule Rule(int32_t action, uint32_t target, int32_t metric, uint32_t reference, int32_t referenceMetric,
                int32_t offset, int32_t percent = 100) {
    return {action, metric, target, referenceMetric, reference, percent, offset};
}

// A move keeps the size and a resize the opposite side; a size follows a percentage of
// another; a rule waits for the rule that places its reference; a negative size is
// placed as 0; a control no rule names stays.
TEST(DialogLayout, RulesMoveAndSizeControls) {
    FakeWindow window({{10, {10, 10, 110, 40}}, {11, {10, 50, 60, 70}}, {12, {200, 200, 240, 220}}, {13, {5, 5, 6, 6}}},
                      400, 300);
    const LayoutRule rules[] = {
        Rule(LayoutMove, 11, MetricLeft, 10, MetricRight, 4),
        Rule(LayoutResize, 10, MetricHeight, kLayoutParentId, MetricHeight, 0, 50),
        Rule(LayoutMove, 10, MetricRight, kLayoutParentId, MetricRight, -10),
        Rule(LayoutResize, 12, MetricBottom, kLayoutParentId, MetricBottom, -8),
        Rule(LayoutResize, 12, MetricLeft, kLayoutParentId, MetricRight, 10),
    };
    EXPECT_TRUE(window.Apply(rules, std::size(rules)));
    EXPECT_TRUE(window.problems.empty());
    EXPECT_EQ(window.moveCalls, 1);
    EXPECT_EQ(window.moved, (std::map<uint32_t, Box>{{10, {385 - 100, 10, 385, 160}},
                                                     {11, {385 + X(4), 50, 385 + X(4) + 50, 70}},
                                                     {12, {400 + X(10), 200, 400 + X(10), 300 + Y(-8)}}}));
}

// The help button is 48 dialog units wide down to 696 pixels of client width, then loses
// a unit for every 4 pixels (the search button one for every 2); the other buttons follow it.
TEST(DialogLayout, MainWindowButtonsNarrowWithTheWindow) {
    const struct {
        int32_t width, helpUnits, searchUnits;
    } sizes[] = {{696, 48, 105}, {690, 47, 102}, {200, -76, -143}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.width);
        FakeWindow window(kMain, s.width, 400);
        LayoutRule rules[kMainLayoutRuleCount];
        MainWindowLayout(s.width, rules);
        EXPECT_TRUE(window.Apply(rules, kMainLayoutRuleCount));
        EXPECT_TRUE(window.problems.empty());
        EXPECT_EQ(window.moved.size(), kMain.size()) << "a control no rule names";
        EXPECT_EQ(Width(window.moved[ID_HELP]), std::max(0, X(s.helpUnits)));
        EXPECT_EQ(Width(window.moved[IDC_LOCKED_DLL]), std::max(0, X(s.searchUnits)));
        for (uint32_t id : {2u, uint32_t{IDC_SAVE}, uint32_t{IDC_REFRESH}}) EXPECT_EQ(Width(window.moved[id]), Width(window.moved[ID_HELP])) << id;
    }
}

TEST(DialogLayout, ConnectionsListStopsAtTheButtonsAndAMinimisedWindowStays) {
    FakeWindow window(kConnections, 1280, 960);
    EXPECT_TRUE(window.Apply(kConnectionsLayout, kConnectionsLayoutRuleCount));
    EXPECT_EQ(window.moved[2].r, 1280);
    EXPECT_EQ(window.moved[2].b, 960);
    EXPECT_EQ(window.moved[IDC_CONNECTIONS_LIST], (Box{X(7), Y(16), 1280, window.moved[IDC_CONNECTIONS_SAVE].t}));
    // Minimised, or without children: nothing to lay out, and that is no failure.
    FakeWindow minimised(kConnections, 0, 0), empty({}, 300, 200);
    minimised.minimised = true;
    for (FakeWindow* w : {&minimised, &empty}) {
        EXPECT_TRUE(w->Apply(kConnectionsLayout, kConnectionsLayoutRuleCount));
        EXPECT_EQ(w->moveCalls + w->problems.size(), 0u);
    }
}

TEST(DialogLayout, TablesThatDoNotFitTheWindow) {
    const uint32_t a = IDC_CONNECTIONS_CHECK, b = IDC_CONNECTIONS_SAVE;
    const LayoutRule valid = Rule(LayoutMove, a, MetricLeft, kLayoutParentId, MetricLeft, 1);
    const struct {
        std::vector<LayoutRule> rules;
        int32_t kind;
        uint32_t controlId;
    } cases[] = {
        {{Rule(LayoutMove, a, MetricLeft, b, MetricLeft, 0), Rule(LayoutMove, b, MetricLeft, a, MetricLeft, 0)},
         LayoutUnappliedRules, 0},
        {{valid, Rule(LayoutMove, 4242, MetricTop, kLayoutParentId, MetricTop, 0)}, LayoutMissingControl, 4242},
        {{valid, Rule(LayoutMove, a, MetricTop, 4243, MetricTop, 0)}, LayoutMissingControl, 4243},
        {{Rule(LayoutResize, kLayoutParentId, MetricTop, a, MetricTop, 0)}, LayoutMissingControl, kLayoutParentId},
        {{valid, Rule(LayoutMove, a, MetricWidth, b, MetricWidth, 0)}, LayoutInvalidSide, 0},
        {{valid, Rule(LayoutResize, a, 6, b, 6, 0)}, LayoutInvalidMetric, 0},
        {{valid, Rule(2, a, MetricTop, b, MetricTop, 0)}, LayoutInvalidAction, 0},
    };
    for (const auto& c : cases) {
        FakeWindow window(kConnections, 600, 400);
        EXPECT_FALSE(window.Apply(c.rules.data(), c.rules.size()));
        EXPECT_EQ(window.moveCalls, 0) << "something moved, case " << c.kind;
        ASSERT_EQ(window.problems.size(), 1u);
        EXPECT_EQ(window.problems[0].kind, c.kind);
        EXPECT_EQ(window.problems[0].controlId, c.controlId);
    }

    // Left set twice and nothing for right or width: both reported, the control still moves.
    FakeWindow window(kConnections, 600, 400);
    const LayoutRule twice[] = {valid, Rule(LayoutResize, a, MetricLeft, kLayoutParentId, MetricLeft, 5)};
    EXPECT_FALSE(window.Apply(twice, 2));
    ASSERT_EQ(window.problems.size(), 2u);
    EXPECT_EQ(window.problems[0].controlId, a);
    EXPECT_EQ(LayoutMetricName(window.problems[0].metric), std::string("right"));
    EXPECT_EQ(LayoutMetricName(window.problems[1].metric), std::string("width"));
    EXPECT_EQ(window.moved[a].l, X(5));

    // An end rule ends the table: what follows it is not read.
    FakeWindow ended(kConnections, 600, 400);
    const LayoutRule withEnd[] = {valid, Rule(LayoutEnd, 0, 0, 0, 0, 0), Rule(9, 9, 9, 9, 9, 9)};
    EXPECT_TRUE(ended.Apply(withEnd, 3));
    EXPECT_EQ(ended.moved[a].l, X(1));
}

}  // namespace
