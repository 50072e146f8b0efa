// The layout solver on a window in memory: how its rules move and size controls, and
// tables that do not fit the window. The real windows' layouts at their sizes are
// checked in korvane.exe's end-to-end run.
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

// Controls of a window: ID and rectangle in pixels; the connections dialog's buttons as its template places them.
using Placed = std::vector<std::pair<uint32_t, Box>>;
const Placed kConnections = {{IDC_CONNECTIONS_CHECK, {X(250), Y(213), X(300), Y(227)}},
                             {IDC_CONNECTIONS_SAVE, {X(314), Y(212), X(363), Y(227)}}};

// A window of such controls that records what the solver moves and reports.
struct FakeWindow {
    bool minimised = false;
    LayoutRect client;
    Placed controls;
    std::map<uint32_t, Box> moved;
    int moveCalls = 0;
    std::vector<LayoutProblem> problems;

    FakeWindow(Placed placed, int32_t width, int32_t height) : client{0, 0, width, height}, controls(std::move(placed)) {}
    static FakeWindow* Of(void* w) { return static_cast<FakeWindow*>(w); }
    static size_t List(void* w, LayoutRect* client, LayoutControl* out, size_t capacity) {
        *client = Of(w)->client;
        for (size_t i = 0; i < std::min(capacity, Of(w)->controls.size()); ++i) {
            const auto& [id, b] = Of(w)->controls[i];
            out[i] = {id, id, {b.l, b.t, b.r, b.b}};
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

TEST(DialogLayout, TablesThatDoNotFitTheWindow) {
    const uint32_t a = IDC_CONNECTIONS_CHECK, b = IDC_CONNECTIONS_SAVE;
    const LayoutRule valid = Rule(LayoutMove, a, MetricLeft, kLayoutParentId, MetricLeft, 1);
    const struct { std::vector<LayoutRule> rules; int32_t kind; uint32_t controlId; } cases[] = {
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

    // Minimised, or without children: nothing to lay out, and that is no failure.
    FakeWindow minimised(kConnections, 0, 0), empty({}, 300, 200);
    minimised.minimised = true;
    for (FakeWindow* w : {&minimised, &empty}) {
        EXPECT_TRUE(w->Apply(kConnectionsLayout, kConnectionsLayoutRuleCount));
        EXPECT_EQ(w->moveCalls + w->problems.size(), 0u);
    }
    // An end rule ends the table: what follows it is not read.
    FakeWindow ended(kConnections, 600, 400);
    const LayoutRule withEnd[] = {valid, Rule(LayoutEnd, 0, 0, 0, 0, 0), Rule(9, 9, 9, 9, 9, 9)};
    EXPECT_TRUE(ended.Apply(withEnd, 3));
    EXPECT_EQ(ended.moved[a].l, X(1));
}

}  // namespace
