// Interpreter objects: construction, the registry of live interpreters,
// the shared and numbered interpreters and the state queries.
#include <algorithm>
#include <vector>

#include "diag/debug_hooks.h"
#include "engine/instance.h"
#include "engine/error_site.h"
#include "engine/run_context.h"
#include "engine/var_tables.h"

namespace qotool::engine {

namespace {
std::vector<CQoLanguage*>* g_registry = nullptr;
CQoLanguage* g_shared = nullptr;
CQoLanguage** g_numbered = nullptr;  // 10 slots, created on first use
}  // namespace

bool IsLiveInterpreter(const CQoLanguage* qo) {
    if (!g_registry) return false;
    for (auto it = g_registry->rbegin(); it != g_registry->rend(); ++it)
        if (*it == qo) return true;
    return false;
}

CQoLanguage* SharedInterpreter() { return g_shared; }

void CreateSharedInterpreter() {
    if (!g_shared) g_shared = new CQoLanguage();
}

void DestroySharedInterpreter() {
    CQoLanguage* shared = g_shared;
    g_shared = nullptr;
    delete shared;
}

CQoLanguage* NumberedInterpreter(int slot) {
    if (slot < 0 || slot > 9) return nullptr;
    if (!g_numbered) g_numbered = new CQoLanguage*[10]();
    if (!g_numbered[slot]) g_numbered[slot] = new CQoLanguage();
    return g_numbered[slot];
}

}  // namespace qotool::engine

using namespace qotool::engine;

CQoLanguage::CQoLanguage()
    : m_cType('Z'),
      m_dValue(0),
      m_pValue(0),
      m_pHostData(nullptr),
      m_pVars(new VarTables()),
      m_nScopeLevel(0),
      m_cControl(0),
      m_pPlatform(nullptr),
      m_pRun(nullptr),
      m_bSyntaxCheck(0),
      m_modeFlags(0x04) {
    if (!g_registry) g_registry = new std::vector<CQoLanguage*>();
    g_registry->push_back(this);
    m_pRun = new QoLRunContext(this);
    Do("clear", nullptr);
}

CQoLanguage::~CQoLanguage() {
    ForgetErrorSite(this);
    delete m_pRun;
    m_pRun = nullptr;
    delete m_pVars;
    m_pVars = nullptr;
    if (g_registry) {
        auto& reg = *g_registry;
        auto it = std::find(reg.rbegin(), reg.rend(), this);
        if (it != reg.rend())
            reg.erase(std::next(it).base());
        else if (!reg.empty())
            reg.erase(reg.begin());
        if (reg.empty()) {
            delete g_registry;
            g_registry = nullptr;
        }
    }
}

int CQoLanguage::GetQolState(short what) {
    switch (what) {
    case 1: return (m_modeFlags & 0x02) ? 1 : 0;
    case 2: return (m_modeFlags & 0x04) ? 1 : 0;
    case 3: return (m_modeFlags & 0x20) ? 1 : 0;
    case 4: return m_bSyntaxCheck ? 1 : 0;
    case 5: return (qotool::diag::g_debugSwitch & 1) ? 1 : 0;
    default: return 0;
    }
}

CObject* CQoLanguage::GetSafeQo(char) {
    if (m_pPlatform) return m_pPlatform;
    static const char kMessage[] = "QOL解释器不属于且未连接任何平台，不能执行平台操作";
    ErrorString(kMessage);
    Unwind(kMessage);
    return nullptr;
}

int CQoLanguage::BindTableBuffer(const char* name) {
    if (name)
        m_pRun->tableBufferName = name;
    else
        m_pRun->tableBufferName.Empty();
    return m_pRun->tableBufferName.IsEmpty() ? 0 : 1;
}
