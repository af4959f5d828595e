// The per-interpreter variable and array tables. Records live at stable
// addresses so that &name addresses stay valid while the record lives.
#ifndef QOTOOL_ENGINE_VAR_TABLES_H
#define QOTOOL_ENGINE_VAR_TABLES_H

#include <memory>
#include <vector>

#include "qotool/qolvardefine.h"

namespace qotool::engine {

struct VarTables {
    std::vector<std::unique_ptr<QoLVarDefine>> variables;
    std::vector<std::unique_ptr<QoLVarDefine>> arrays;

    void Clear() {
        variables.clear();
        arrays.clear();
    }
    // Cuts both tables back to the sizes at which a scope began.
    void CutBack(int variableCount, int arrayCount) {
        if ((int)variables.size() > variableCount) variables.resize((size_t)variableCount);
        if ((int)arrays.size() > arrayCount) arrays.resize((size_t)arrayCount);
    }
};

}  // namespace qotool::engine

#endif
