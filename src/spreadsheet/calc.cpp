// Recalculation: order the formula cells of the whole workbook so that every cell comes after
// the cells it reads, on its own sheet, on other sheets (3-D references) and through defined
// names (iterative depth-first search, so long chains cannot exhaust the call stack), mark the
// cells on cycles, then evaluate once in that order. References computed at run time (OFFSET,
// INDIRECT) are not known in advance: a formula cell they reach before its turn is computed on
// demand, to a bounded depth. A formula the engine cannot compute keeps the result its file
// holds, and the cells that read it compute from that.
//
// Most workbooks have no cycles and short chains, and there the order is found more cheaply by
// computing the cells one after another and each formula cell a formula reads (or names without
// reading, as an IF's branch not taken) first, when it reads it. That gives every cell the value
// the ordered evaluation gives it; the first cycle, or a chain deeper than the bound, puts back
// every value that pass wrote and the ordered evaluation starts afresh.
#include "spreadsheet/calc.h"
#include "spreadsheet/formula.h"
#include "spreadsheet/formula_internal.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace ss {

namespace {

constexpr int kGridLimit = 1 << 20;     // cells; larger used areas fall back to map look-ups
constexpr int kMaxOnDemandDepth = 24;   // nested on-demand evaluations before reading values as they are (below the evaluator's own bound)
constexpr int kMaxNameDepth = 16;       // names inside names followed for dependencies

const Value kBlank;
const Value kNoSheet = ErrorCode::Ref;

// Where the cells and formulas of one sheet are: a dense grid over the used area, or a map.
class SheetIndex {
public:
    // `area`: the used area of the sheet, which holds all its cells.
    void build(Sheet& sheet, const RangeAddress& area, int firstNode, const std::vector<CellAddress>& formulas)
    {
        sheet_ = &sheet;
        if (sheet.cells.empty())
            return;
        area_ = area;
        const long long rows = area_.lastRow - area_.firstRow + 1, cols = area_.lastCol - area_.firstCol + 1;
        if (rows * cols <= kGridLimit) {
            areaCols_ = static_cast<int>(cols);
            grid_.assign(static_cast<std::size_t>(rows * cols), Slot{});
            for (const auto& [addr, cell] : sheet.cells)
                grid_[slot(addr.row, addr.col)].cell = &cell;
            for (std::size_t i = 0; i < formulas.size(); ++i)
                grid_[slot(formulas[i].row, formulas[i].col)].node = firstNode + static_cast<int>(i);
        } else {
            for (std::size_t i = 0; i < formulas.size(); ++i)
                nodeIndex_.emplace(formulas[i].row * kMaxCols + formulas[i].col, firstNode + static_cast<int>(i));
        }
        firstNode_ = firstNode;
        formulas_ = &formulas;
    }

    // The formula node and the cell at (row, col) in one look-up.
    const Cell* find(int row, int col, int& node) const
    {
        if (!grid_.empty()) {
            if (!area_.contains(row, col)) {
                node = -1;
                return nullptr;
            }
            const Slot& s = grid_[slot(row, col)];
            node = s.node;
            return s.cell;
        }
        node = nodeAt(row, col);
        return sheet_ ? sheet_->find(row, col) : nullptr;
    }

    const Cell* find(int row, int col) const
    {
        if (!grid_.empty())
            return area_.contains(row, col) ? grid_[slot(row, col)].cell : nullptr;
        return sheet_ ? sheet_->find(row, col) : nullptr;
    }

    int nodeAt(int row, int col) const
    {
        if (!grid_.empty())
            return area_.contains(row, col) ? grid_[slot(row, col)].node : -1;
        const auto it = nodeIndex_.find(row * kMaxCols + col);
        return it == nodeIndex_.end() ? -1 : it->second;
    }

    // Calls f(node) for every formula cell inside `r`.
    template <class F>
    void nodesIn(RangeAddress r, F&& f) const
    {
        if (!formulas_ || formulas_->empty())
            return;
        if (r.firstRow == r.lastRow && r.firstCol == r.lastCol) {
            if (const int n = nodeAt(r.firstRow, r.firstCol); n >= 0)
                f(n);
            return;
        }
        r.firstRow = std::max(r.firstRow, area_.firstRow);
        r.firstCol = std::max(r.firstCol, area_.firstCol);
        r.lastRow = std::min(r.lastRow, area_.lastRow);
        r.lastCol = std::min(r.lastCol, area_.lastCol);
        if (r.firstRow > r.lastRow || r.firstCol > r.lastCol)
            return;
        const long long size = static_cast<long long>(r.lastRow - r.firstRow + 1) * (r.lastCol - r.firstCol + 1);
        if (!grid_.empty() || size <= static_cast<long long>(formulas_->size())) {
            for (int row = r.firstRow; row <= r.lastRow; ++row)
                for (int col = r.firstCol; col <= r.lastCol; ++col)
                    if (const int n = nodeAt(row, col); n >= 0)
                        f(n);
        } else {
            for (std::size_t j = 0; j < formulas_->size(); ++j)
                if (r.contains((*formulas_)[j].row, (*formulas_)[j].col))
                    f(firstNode_ + static_cast<int>(j));
        }
    }

private:
    struct Slot {
        const Cell* cell = nullptr;
        int node = -1;
    };
    Sheet* sheet_ = nullptr;
    RangeAddress area_{kMaxRows, kMaxCols, -1, -1};
    int areaCols_ = 0;
    int firstNode_ = 0;
    const std::vector<CellAddress>* formulas_ = nullptr;
    std::vector<Slot> grid_;
    std::unordered_map<int, int> nodeIndex_;   // only without the grid: row * 256 + col -> node

    std::size_t slot(int row, int col) const
    {
        return static_cast<std::size_t>((row - area_.firstRow) * areaCols_ + (col - area_.firstCol));
    }
};

class WorkbookCalc final : public formula::CellSource {
public:
    explicit WorkbookCalc(Workbook& wb) : wb_(wb) {}
    WorkbookCalc(const WorkbookCalc&) = delete;
    WorkbookCalc& operator=(const WorkbookCalc&) = delete;

    void run()
    {
        collect();
        if (nodes_.empty())
            return;
        makeContexts();
        state_.assign(nodes_.size(), Pending);
        if (groups_.empty() && evaluateAsRead())
            return;
        buildEdges();
        order();
        evaluateAll();
    }

private:
    struct Node {
        int sheet;
        CellAddress at;
        Cell* cell;
        int group = -1;   // array formula the cell belongs to
    };
    struct Group {
        int sheet;
        const ArrayFormula* formula;
        bool done = false;
    };
    enum State : char { Pending, Running, Done };

    Workbook& wb_;
    std::vector<Node> nodes_;
    std::vector<Group> groups_;
    std::vector<std::vector<CellAddress>> formulasOf_;   // per sheet
    std::vector<SheetIndex> index_;                      // per sheet
    std::vector<int> edgeStart_, edges_;
    std::vector<int> order_;
    std::vector<char> cyclic_, state_;
    std::vector<std::vector<formula::Dependencies::Cells>> nameCells_;   // per name, flattened
    std::vector<char> nameResolved_;
    std::vector<formula::Context> contexts_;   // per sheet
    int onDemandDepth_ = 0;
    // The pass that computes cells as they are read (evaluateAsRead).
    bool asRead_ = false;
    bool asReadFailed_ = false;
    bool inGeneral_ = false;   // a formula of that pass whose cells were computed before it
    std::vector<std::pair<Value*, Value>> replaced_;   // the values that pass wrote over, in order

    void collect()
    {
        const std::size_t n = wb_.sheets.size();
        formulasOf_.resize(n);
        index_.resize(n);
        for (std::size_t s = 0; s < n; ++s) {
            Sheet& sheet = wb_.sheets[s];
            const int first = static_cast<int>(nodes_.size());
            RangeAddress area{kMaxRows, kMaxCols, -1, -1};
            if (!sheet.cells.empty()) {
                area.firstRow = sheet.cells.begin()->first.row;   // the cells are in row order
                area.lastRow = sheet.cells.rbegin()->first.row;
            }
            for (auto& [addr, cell] : sheet.cells) {
                area.firstCol = std::min(area.firstCol, addr.col);
                area.lastCol = std::max(area.lastCol, addr.col);
                if (!cell.isFormula())
                    continue;
                formulasOf_[s].push_back(addr);
                nodes_.push_back({static_cast<int>(s), addr, &cell});
            }
            index_[s].build(sheet, area, first, formulasOf_[s]);
            for (const ArrayFormula& af : sheet.arrayFormulas) {
                if (af.formula.empty())
                    continue;
                const int g = static_cast<int>(groups_.size());
                groups_.push_back({static_cast<int>(s), &af});
                index_[s].nodesIn(af.range, [&](int node) { nodes_[static_cast<std::size_t>(node)].group = g; });
            }
        }
    }

    const std::vector<std::uint8_t>& tokensOf(const Node& n) const
    {
        return n.group >= 0 ? groups_[static_cast<std::size_t>(n.group)].formula->formula : n.cell->formula;
    }

    // The cells a name reads, following names inside it to a bounded depth.
    const std::vector<formula::Dependencies::Cells>& nameCells(std::uint16_t index, int depth = 0)
    {
        static const std::vector<formula::Dependencies::Cells> kNone;
        if (index == 0 || index > wb_.names.size())
            return kNone;
        const std::size_t i = index - 1u;
        if (nameCells_.empty()) {
            nameCells_.resize(wb_.names.size());
            nameResolved_.assign(wb_.names.size(), 0);
        }
        if (nameResolved_[i] || depth > kMaxNameDepth)
            return nameCells_[i];
        nameResolved_[i] = 1;   // also stops a name that refers to itself
        const formula::Dependencies d = formula::dependencies(wb_.names[i].formula);
        std::vector<formula::Dependencies::Cells> cells = d.cells;
        for (std::uint16_t inner : d.names) {
            const auto& more = nameCells(inner, depth + 1);
            cells.insert(cells.end(), more.begin(), more.end());
        }
        nameCells_[i] = std::move(cells);
        return nameCells_[i];
    }

    // Calls f(dep) for each formula cell the formula of node `i` reads, straight from its tokens:
    // references of its own sheet, 3-D references, then the cells of the names it uses.
    template <class F>
    void eachDependency(std::size_t i, std::vector<std::uint16_t>& names, F&& f)
    {
        const Node& node = nodes_[i];
        auto addCells = [&](int ixti, RangeAddress range) {
            // Most references are one cell of the formula's own sheet.
            if (ixti < 0 && range.firstRow == range.lastRow && range.firstCol == range.lastCol) {
                const int dep = index_[static_cast<std::size_t>(node.sheet)].nodeAt(range.firstRow, range.firstCol);
                if (dep >= 0 && (node.group < 0 || nodes_[static_cast<std::size_t>(dep)].group != node.group))
                    f(dep);
                return;
            }
            int first = node.sheet, last = node.sheet;
            if (ixti >= 0 && !formula::externSheetRange(wb_, static_cast<std::uint16_t>(ixti), first, last))
                return;
            for (int s = std::max(first, 0); s <= last; ++s)
                index_[static_cast<std::size_t>(s)].nodesIn(range, [&](int dep) {
                    // The cells of one array formula are computed together: no edges among them.
                    if (node.group < 0 || nodes_[static_cast<std::size_t>(dep)].group != node.group)
                        f(dep);
                });
        };
        names.clear();
        formula::detail::eachRead(tokensOf(node), addCells, [&](std::uint16_t name) { names.push_back(name); });
        for (std::uint16_t name : names)
            for (const auto& c : nameCells(name))
                addCells(c.ixti, c.range);
    }

    // The edges of each formula cell to the formula cells it reads.
    void buildEdges()
    {
        edgeStart_.reserve(nodes_.size() + 1);
        edges_.reserve(nodes_.size() * 4);
        std::vector<std::uint16_t> names;
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            edgeStart_.push_back(static_cast<int>(edges_.size()));
            eachDependency(i, names, [&](int dep) { edges_.push_back(dep); });
        }
        edgeStart_.push_back(static_cast<int>(edges_.size()));
    }

    void order()
    {
        enum : char { Unvisited, Visiting, Finished };
        const std::size_t n = nodes_.size();
        std::vector<char> state(n, Unvisited);
        std::vector<int> stackPos(n, -1);
        cyclic_.assign(n, 0);
        order_.reserve(n);
        struct Frame { int node; int next; };
        std::vector<Frame> stack;
        for (std::size_t start = 0; start < n; ++start) {
            if (state[start] != Unvisited)
                continue;
            stack.push_back({static_cast<int>(start), edgeStart_[start]});
            state[start] = Visiting;
            stackPos[start] = 0;
            while (!stack.empty()) {
                Frame& f = stack.back();
                if (f.next < edgeStart_[static_cast<std::size_t>(f.node) + 1]) {
                    const int dep = edges_[static_cast<std::size_t>(f.next++)];
                    const auto d = static_cast<std::size_t>(dep);
                    if (state[d] == Unvisited) {
                        state[d] = Visiting;
                        stackPos[d] = static_cast<int>(stack.size());
                        stack.push_back({dep, edgeStart_[d]});
                    } else if (state[d] == Visiting) {
                        // Back edge: everything on the path from `dep` up to here is a cycle.
                        for (std::size_t k = static_cast<std::size_t>(stackPos[d]); k < stack.size(); ++k)
                            cyclic_[static_cast<std::size_t>(stack[k].node)] = 1;
                    }
                } else {
                    state[static_cast<std::size_t>(f.node)] = Finished;
                    order_.push_back(f.node);
                    stack.pop_back();
                }
            }
        }
    }

    // The current value of a cell; a formula cell reached before its turn (through a reference
    // computed at run time) is computed first.
    const Value& value(int sheet, int row, int col) override
    {
        if (sheet < 0 || static_cast<std::size_t>(sheet) >= index_.size())
            return kNoSheet;
        int node;
        const Cell* c = index_[static_cast<std::size_t>(sheet)].find(row, col, node);
        if (node >= 0 && state_[static_cast<std::size_t>(node)] != Done) {
            if (asRead_) {
                require(node);
            } else if (state_[static_cast<std::size_t>(node)] == Pending && onDemandDepth_ < kMaxOnDemandDepth) {
                ++onDemandDepth_;
                evaluate(node);
                --onDemandDepth_;
            }
        }
        return c ? c->value : kBlank;
    }

    void skipped(int sheet, const RangeAddress& range) override
    {
        if (!asRead_ || sheet < 0 || static_cast<std::size_t>(sheet) >= index_.size())
            return;
        index_[static_cast<std::size_t>(sheet)].nodesIn(range, [&](int node) {
            if (state_[static_cast<std::size_t>(node)] != Done)
                require(node);
        });
    }

    // Computes a formula cell that the pass computing cells as they are read needs; one already
    // being computed (a cycle), a chain past the bound, or a cell not yet computed that a formula
    // reads though its tokens did not name it (OFFSET, INDIRECT, names nested deeply) ends that pass.
    void require(int node)
    {
        if (asReadFailed_)
            return;
        if (state_[static_cast<std::size_t>(node)] == Running || onDemandDepth_ >= kMaxOnDemandDepth || inGeneral_) {
            asReadFailed_ = true;
            return;
        }
        ++onDemandDepth_;
        evaluateAsRead(node);
        --onDemandDepth_;
    }

    // One formula cell of that pass: a plain formula reads (or names as skipped) every cell it
    // depends on while it is computed; any other has those computed before.
    void evaluateAsRead(int i)
    {
        const auto u = static_cast<std::size_t>(i);
        state_[u] = Running;
        Node& node = nodes_[u];
        const ContextFor ctx(contexts_[static_cast<std::size_t>(node.sheet)], node.cell->formulaData);
        std::optional<Value> v = formula::tryEvaluatePlain(node.cell->formula, node.at.row, node.at.col, ctx.get());
        if (!v && !asReadFailed_) {
            std::vector<std::uint16_t> names;
            eachDependency(u, names, [&](int dep) {
                if (state_[static_cast<std::size_t>(dep)] != Done)
                    require(dep);
            });
            if (!asReadFailed_) {
                inGeneral_ = true;
                v = formula::tryEvaluate(node.cell->formula, node.at.row, node.at.col, ctx.get());
                inGeneral_ = false;
            }
        }
        if (v) {
            replaced_.emplace_back(&node.cell->value, std::move(node.cell->value));
            node.cell->value = stored(std::move(*v));
        }
        state_[u] = Done;
    }

    // The pass over every formula cell in turn; false, with the workbook's values as they were,
    // when it met a cycle or a chain too deep.
    bool evaluateAsRead()
    {
        asRead_ = true;
        replaced_.reserve(nodes_.size());
        for (std::size_t i = 0; i < nodes_.size() && !asReadFailed_; ++i)
            if (state_[i] == Pending)
                evaluateAsRead(static_cast<int>(i));
        asRead_ = false;
        if (!asReadFailed_)
            return true;
        for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it)
            *it->first = std::move(it->second);
        state_.assign(nodes_.size(), Pending);
        return false;
    }

    // One evaluation context per sheet, built once: the cells' current values come through it.
    void makeContexts()
    {
        contexts_.resize(wb_.sheets.size());
        for (std::size_t s = 0; s < contexts_.size(); ++s) {
            formula::Context& ctx = contexts_[s];
            ctx.source = this;
            ctx.date1904 = wb_.date1904;
            ctx.workbook = &wb_;
            ctx.sheet = static_cast<int>(s);
        }
    }

    // The context of `sheet` with the array constants of the formula about to be evaluated; the
    // previous ones come back when it is done, since a cell computed on demand interrupts another.
    class ContextFor {
    public:
        ContextFor(formula::Context& ctx, std::span<const std::uint8_t> arrayData)
            : ctx_(ctx), saved_(ctx.arrayData)
        {
            ctx_.arrayData = arrayData;
        }
        ~ContextFor() { ctx_.arrayData = saved_; }
        ContextFor(const ContextFor&) = delete;
        ContextFor& operator=(const ContextFor&) = delete;
        const formula::Context& get() const { return ctx_; }

    private:
        formula::Context& ctx_;
        std::span<const std::uint8_t> saved_;
    };

    static Value stored(Value v)
    {
        if (v.isNumber() && v.number() == 0)
            return 0.0;   // never store -0
        return v;
    }

    void evaluate(int i)
    {
        const auto u = static_cast<std::size_t>(i);
        if (state_[u] != Pending)
            return;
        state_[u] = Running;
        Node& node = nodes_[u];
        if (node.group >= 0) {
            evaluateGroup(node.group);
        } else {
            const ContextFor ctx(contexts_[static_cast<std::size_t>(node.sheet)], node.cell->formulaData);
            if (std::optional<Value> v = formula::tryEvaluate(node.cell->formula, node.at.row, node.at.col, ctx.get()))
                node.cell->value = stored(std::move(*v));
        }
        state_[u] = Done;
    }

    void evaluateGroup(int g)
    {
        Group& group = groups_[static_cast<std::size_t>(g)];
        if (group.done)
            return;
        group.done = true;
        const ArrayFormula& af = *group.formula;
        const ContextFor ctx(contexts_[static_cast<std::size_t>(group.sheet)], af.formulaData);
        const std::optional<std::vector<Value>> values = formula::tryEvaluateArray(af.formula, af.range, ctx.get());
        const int cols = af.range.lastCol - af.range.firstCol + 1;
        index_[static_cast<std::size_t>(group.sheet)].nodesIn(af.range, [&](int node) {
            Node& n = nodes_[static_cast<std::size_t>(node)];
            if (values && n.group == g)
                n.cell->value = stored((*values)[static_cast<std::size_t>((n.at.row - af.range.firstRow) * cols +
                                                                          (n.at.col - af.range.firstCol))]);
            state_[static_cast<std::size_t>(node)] = Done;
        });
    }

    void evaluateAll()
    {
        // Cells on a cycle are not computed: one that holds a result from its file keeps it, as
        // Excel keeps the values of a circular reference; a new one reads as #VALUE!.
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            if (cyclic_[i]) {
                if (nodes_[i].cell->value.isBlank())
                    nodes_[i].cell->value = ErrorCode::Value;
                state_[i] = Done;
            }
        }
        for (int i : order_)
            evaluate(i);
    }
};

} // namespace

void recalculate(Workbook& wb)
{
    WorkbookCalc(wb).run();
}

} // namespace ss
