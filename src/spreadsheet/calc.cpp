// Recalculation: order the formula cells of the whole workbook so that every cell comes after
// the cells it reads, on its own sheet, on other sheets (3-D references) and through defined
// names (iterative depth-first search, so long chains cannot exhaust the call stack), mark the
// cells on cycles, then evaluate once in that order. References computed at run time (OFFSET,
// INDIRECT) are not known in advance: a formula cell they reach before its turn is computed on
// demand, to a bounded depth. A formula the engine cannot compute keeps the result its file
// holds, and the cells that read it compute from that.
#include "spreadsheet/calc.h"
#include "spreadsheet/formula.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace ss {

namespace {

constexpr int kGridLimit = 1 << 20;     // cells; larger used areas fall back to map look-ups
constexpr int kMaxOnDemandDepth = 24;   // nested on-demand evaluations before reading values as they are (below the evaluator's own bound)
constexpr int kMaxNameDepth = 16;       // names inside names followed for dependencies

// Where the cells and formulas of one sheet are: a dense grid over the used area, or a map.
class SheetIndex {
public:
    void build(Sheet& sheet, int firstNode, const std::vector<CellAddress>& formulas)
    {
        sheet_ = &sheet;
        for (const auto& [addr, cell] : sheet.cells) {
            area_.firstRow = std::min(area_.firstRow, addr.row);
            area_.firstCol = std::min(area_.firstCol, addr.col);
            area_.lastRow = std::max(area_.lastRow, addr.row);
            area_.lastCol = std::max(area_.lastCol, addr.col);
        }
        if (sheet.cells.empty())
            return;
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

class WorkbookCalc {
public:
    explicit WorkbookCalc(Workbook& wb) : wb_(wb) {}

    void run()
    {
        collect();
        if (nodes_.empty())
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
    std::vector<char> cyclic_, dynamic_, state_;
    std::vector<std::vector<formula::Dependencies::Cells>> nameCells_;   // per name, flattened
    std::vector<char> nameResolved_;
    int onDemandDepth_ = 0;

    void collect()
    {
        const std::size_t n = wb_.sheets.size();
        formulasOf_.resize(n);
        index_.resize(n);
        for (std::size_t s = 0; s < n; ++s) {
            Sheet& sheet = wb_.sheets[s];
            const int first = static_cast<int>(nodes_.size());
            for (auto& [addr, cell] : sheet.cells) {
                if (!cell.isFormula())
                    continue;
                formulasOf_[s].push_back(addr);
                nodes_.push_back({static_cast<int>(s), addr, &cell});
            }
            index_[s].build(sheet, first, formulasOf_[s]);
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

    void buildEdges()
    {
        dynamic_.assign(nodes_.size(), 0);
        edgeStart_.reserve(nodes_.size() + 1);
        for (std::size_t i = 0; i < nodes_.size(); ++i) {
            edgeStart_.push_back(static_cast<int>(edges_.size()));
            const Node& node = nodes_[i];
            const formula::Dependencies d = formula::dependencies(tokensOf(node));
            dynamic_[i] = d.dynamic;
            auto addCells = [&](const formula::Dependencies::Cells& c) {
                int first = node.sheet, last = node.sheet;
                if (c.ixti >= 0 && !formula::externSheetRange(wb_, static_cast<std::uint16_t>(c.ixti), first, last))
                    return;
                for (int s = std::max(first, 0); s <= last; ++s)
                    index_[static_cast<std::size_t>(s)].nodesIn(c.range, [&](int dep) {
                        // The cells of one array formula are computed together: no edges among them.
                        if (node.group < 0 || nodes_[static_cast<std::size_t>(dep)].group != node.group)
                            edges_.push_back(dep);
                    });
            };
            for (const auto& c : d.cells)
                addCells(c);
            for (std::uint16_t name : d.names)
                for (const auto& c : nameCells(name))
                    addCells(c);
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

    Value read(int sheet, int row, int col)
    {
        if (sheet < 0 || static_cast<std::size_t>(sheet) >= index_.size())
            return ErrorCode::Ref;
        const SheetIndex& idx = index_[static_cast<std::size_t>(sheet)];
        const int node = idx.nodeAt(row, col);
        if (node >= 0 && state_[static_cast<std::size_t>(node)] == Pending && onDemandDepth_ < kMaxOnDemandDepth) {
            // Reached through a reference computed at run time before its turn.
            ++onDemandDepth_;
            evaluate(node);
            --onDemandDepth_;
        }
        const Cell* c = idx.find(row, col);
        return c ? c->value : Value();
    }

    formula::Context contextFor(const Node& n)
    {
        formula::Context ctx;
        ctx.date1904 = wb_.date1904;
        ctx.workbook = &wb_;
        ctx.sheet = n.sheet;
        const int sheet = n.sheet;
        ctx.cell = [this, sheet](int row, int col) { return read(sheet, row, col); };
        ctx.sheetCell = [this](int s, int row, int col) { return read(s, row, col); };
        return ctx;
    }

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
            formula::Context ctx = contextFor(node);
            ctx.arrayData = node.cell->formulaData;
            if (std::optional<Value> v = formula::tryEvaluate(node.cell->formula, node.at.row, node.at.col, ctx))
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
        Node probe{group.sheet, {af.range.firstRow, af.range.firstCol}, nullptr};
        formula::Context ctx = contextFor(probe);
        ctx.arrayData = af.formulaData;
        const std::optional<std::vector<Value>> values = formula::tryEvaluateArray(af.formula, af.range, ctx);
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
        state_.assign(nodes_.size(), Pending);
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
