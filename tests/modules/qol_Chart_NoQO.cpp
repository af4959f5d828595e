// An example extension module: loading it registers the executor "Chart",
// which serves a small chart object to QOL scripts:
//   c = ruqo_Chart_Create('sales');   a P value of class %Chart
//   c.Add(12.5);  c.Add(7);           adds points, returns the count
//   c.Count()                         number of points
//   c.Sum(&total)                     returns the sum and writes it into total
//   c.Title()                         the title given to Create
// Scripts load it on demand: calling ruqo_Chart_Create finds no executor,
// loads qol_Chart_NoQO.DLL (this library), whose constructor registers the
// executor, and the call is tried again.
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <memory>
#include <vector>

#include "qotool/qolanguage.h"
#include "qotool/qotool.h"

namespace {

struct Chart {
    CString title;
    std::vector<double> points;
};

// Every chart the module made; they live until the module is unloaded.
std::vector<std::unique_ptr<Chart>>& Charts() {
    static std::vector<std::unique_ptr<Chart>> charts;
    return charts;
}

// The interpreter's P value for a chart.
void ReturnChart(CQoLanguage* qo, Chart* chart) {
    qo->m_pValue = (uintptr_t)chart;
    qo->SetValueType('P', "%Chart");
}

// The chart the value names, or null for an address the module never made.
Chart* ThisChart(CQoLanguage* qo) {
    for (const auto& chart : Charts())
        if ((uintptr_t)chart.get() == qo->m_pValue) return chart.get();
    return nullptr;
}

char ChartExecutor(char** cursorPointer, const char* word, CQoLanguage* qo) {
    char*& cursor = *cursorPointer;
    if (strcasecmp(word, "ruqo_Chart_Create") == 0) {
        CString title;
        qo->ReadPara('N', cursor, "?s", &title, nullptr);
        Charts().push_back(std::make_unique<Chart>());
        Chart* chart = Charts().back().get();
        chart->title = title;
        ReturnChart(qo, chart);
        return 1;
    }
    // Members arrive as "ruqo_Chart_.Member" with the object as the value.
    if (strncasecmp(word, "ruqo_Chart_.", 12) != 0 || qo->m_cType != 'P') return 0;
    Chart* chart = ThisChart(qo);
    if (!chart) return 0;
    const char* member = word + 12;
    if (strcasecmp(member, "Add") == 0) {
        double value = 0;
        qo->ReadPara('N', cursor, "%g", &value, nullptr);
        chart->points.push_back(value);
        qo->m_dValue = (double)chart->points.size();
        qo->SetValueType('N', nullptr);
        return 1;
    }
    if (strcasecmp(member, "Count") == 0) {
        qo->ReadPara('N', cursor, "", nullptr);
        qo->m_dValue = (double)chart->points.size();
        qo->SetValueType('N', nullptr);
        return 1;
    }
    if (strcasecmp(member, "Sum") == 0) {
        double sum = 0;
        for (double v : chart->points) sum += v;
        double out = 0;
        qo->ReadPara('N', cursor, "?g", &out, nullptr);
        out = sum;
        // A by-reference argument (&total) receives the sum now, while the
        // destination still lives.
        qo->WritePara();
        qo->m_dValue = sum;
        qo->SetValueType('N', nullptr);
        return 1;
    }
    if (strcasecmp(member, "Title") == 0) {
        qo->ReadPara('S', cursor, "", nullptr);
        qo->ValueString(chart->title);
        qo->SetValueType('S', nullptr);
        return 1;
    }
    return 0;
}

__attribute__((constructor)) void RegisterChart() {
    ruqo_UserQolExecutor("Chart", '+', (intptr_t)&ChartExecutor);
}

__attribute__((destructor)) void UnregisterChart() {
    ruqo_UserQolExecutor("Chart", '-', (intptr_t)&ChartExecutor);
}

}  // namespace
