// Recalculation: order the formula cells of each sheet so that every cell comes after the cells
// it reads (iterative depth-first search, so long chains cannot exhaust the call stack), mark the
// cells on cycles, then evaluate once in that order.
#include "spreadsheet/calc.h"
#include "spreadsheet/formula.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace ss {

namespace {

constexpr int kGridLimit = 1 << 20;   // cells; larger used areas fall back to map look-ups

class SheetCalc {
public:
    SheetCalc(Sheet& sheet, bool date1904) : sheet_(sheet), date1904_(date1904) {}

    void run()
    {
        collect();
        if (formulas_.empty())
            return;
        buildGrid();
        buildEdges();
        order();
        evaluateAll();
    }

private:
    Sheet& sheet_;
    bool date1904_;
    std::vector<CellAddress> formulas_;
    std::vector<Cell*> formulaCells_;
    std::vector<int> edgeStart_, edges_;          // dependencies of formula i: edges_[edgeStart_[i] .. edgeStart_[i+1])
    std::vector<int> order_;
    std::vector<char> cyclic_;
    // Dense look-up of the used area for the many cell reads of an evaluation; sheets whose used
    // area is too large for it fall back to the map.
    struct Slot {
        const Cell* cell = nullptr;
        int formula = -1;
    };
    RangeAddress area_{kMaxRows, kMaxCols, -1, -1};
    int areaCols_ = 0;
    std::vector<Slot> grid_;
    std::unordered_map<int, int> formulaIndex_;   // only without the grid: row * 256 + col -> formula

    void collect()
    {
        for (auto& [addr, cell] : sheet_.cells) {
            area_.firstRow = std::min(area_.firstRow, addr.row);
            area_.firstCol = std::min(area_.firstCol, addr.col);
            area_.lastRow = std::max(area_.lastRow, addr.row);
            area_.lastCol = std::max(area_.lastCol, addr.col);
            if (!cell.isFormula())
                continue;
            formulas_.push_back(addr);
            formulaCells_.push_back(&cell);
        }
    }

    void buildGrid()
    {
        const long long rows = area_.lastRow - area_.firstRow + 1, cols = area_.lastCol - area_.firstCol + 1;
        if (rows * cols <= kGridLimit) {
            areaCols_ = static_cast<int>(cols);
            grid_.assign(static_cast<std::size_t>(rows * cols), Slot{});
            for (const auto& [addr, cell] : sheet_.cells)
                grid_[slotIndex(addr.row, addr.col)].cell = &cell;
            for (std::size_t i = 0; i < formulas_.size(); ++i)
                grid_[slotIndex(formulas_[i].row, formulas_[i].col)].formula = static_cast<int>(i);
        } else {
            for (std::size_t i = 0; i < formulas_.size(); ++i)
                formulaIndex_.emplace(formulas_[i].row * kMaxCols + formulas_[i].col, static_cast<int>(i));
        }
    }

    std::size_t slotIndex(int row, int col) const
    {
        return static_cast<std::size_t>((row - area_.firstRow) * areaCols_ + (col - area_.firstCol));
    }

    const Cell* find(int row, int col) const
    {
        if (!grid_.empty())
            return area_.contains(row, col) ? grid_[slotIndex(row, col)].cell : nullptr;
        const auto it = sheet_.cells.find(CellAddress{row, col});
        return it == sheet_.cells.end() ? nullptr : &it->second;
    }

    int formulaAt(int row, int col) const
    {
        if (!grid_.empty())
            return area_.contains(row, col) ? grid_[slotIndex(row, col)].formula : -1;
        const auto it = formulaIndex_.find(row * kMaxCols + col);
        return it == formulaIndex_.end() ? -1 : it->second;
    }

    void buildEdges()
    {
        edgeStart_.reserve(formulas_.size() + 1);
        for (std::size_t i = 0; i < formulas_.size(); ++i) {
            edgeStart_.push_back(static_cast<int>(edges_.size()));
            for (RangeAddress r : formula::references(formulaCells_[i]->formula)) {
                // Only the part inside the used area can hold formulas.
                r.firstRow = std::max(r.firstRow, area_.firstRow);
                r.firstCol = std::max(r.firstCol, area_.firstCol);
                r.lastRow = std::min(r.lastRow, area_.lastRow);
                r.lastCol = std::min(r.lastCol, area_.lastCol);
                if (r.firstRow > r.lastRow || r.firstCol > r.lastCol)
                    continue;
                const long long size = static_cast<long long>(r.lastRow - r.firstRow + 1) * (r.lastCol - r.firstCol + 1);
                if (!grid_.empty() || size <= static_cast<long long>(formulas_.size())) {
                    for (int row = r.firstRow; row <= r.lastRow; ++row)
                        for (int col = r.firstCol; col <= r.lastCol; ++col)
                            if (const int f = formulaAt(row, col); f >= 0)
                                edges_.push_back(f);
                } else {
                    for (std::size_t j = 0; j < formulas_.size(); ++j)
                        if (r.contains(formulas_[j].row, formulas_[j].col))
                            edges_.push_back(static_cast<int>(j));
                }
            }
        }
        edgeStart_.push_back(static_cast<int>(edges_.size()));
    }

    void order()
    {
        enum : char { Unvisited, Visiting, Done };
        const std::size_t n = formulas_.size();
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
                    state[static_cast<std::size_t>(f.node)] = Done;
                    order_.push_back(f.node);
                    stack.pop_back();
                }
            }
        }
    }

    void evaluateAll()
    {
        formula::Context ctx;
        ctx.date1904 = date1904_;
        // Cells on a cycle read as #VALUE! to everything that uses them.
        for (std::size_t i = 0; i < formulas_.size(); ++i)
            if (cyclic_[i])
                formulaCells_[i]->value = ErrorCode::Value;
        ctx.cell = [this](int row, int col) -> Value {
            const Cell* c = find(row, col);
            return c ? c->value : Value();
        };
        for (int i : order_) {
            if (cyclic_[static_cast<std::size_t>(i)])
                continue;
            Cell& cell = *formulaCells_[static_cast<std::size_t>(i)];
            const CellAddress a = formulas_[static_cast<std::size_t>(i)];
            Value v = formula::evaluate(cell.formula, a.row, a.col, ctx);
            if (v.isNumber() && v.number() == 0)
                v = 0.0;   // never store -0
            cell.value = std::move(v);
        }
    }
};

} // namespace

void recalculate(Workbook& wb)
{
    for (Sheet& sheet : wb.sheets)
        SheetCalc(sheet, wb.date1904).run();
}

} // namespace ss
