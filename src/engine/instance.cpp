// Interpreter objects: construction, the registry of live interpreters,
// the shared and numbered interpreters and the state queries.
#include <algorithm>
#include <mutex>
#include <vector>

#include "engine/debugger_seam.h"
#include "engine/error_site.h"
#include "engine/instance.h"
#include "engine/run_context.h"
#include "engine/var_tables.h"

namespace qotool::engine {

namespace {

struct LiveInterpreter {
    const CQoLanguage* qo;
    uint64_t serial;
};

// Guards everything below. Never held while an interpreter runs or while
// another lock is taken.
std::mutex g_registryMutex;
std::vector<LiveInterpreter>* g_registry = nullptr;
uint64_t g_lastSerial = 0;
CQoLanguage* g_shared = nullptr;
CQoLanguage** g_numbered = nullptr;  // 10 slots, created on first use

// The newest entry of qo (searched from the end, where recent ones are).
LiveInterpreter* Find(const CQoLanguage* qo) {
    if (!g_registry) return nullptr;
    for (auto it = g_registry->rbegin(); it != g_registry->rend(); ++it)
        if (it->qo == qo) return &*it;
    return nullptr;
}

void Register(const CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (!g_registry) g_registry = new std::vector<LiveInterpreter>();
    g_registry->push_back({qo, ++g_lastSerial});
}

void Unregister(const CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (!g_registry) return;
    auto& reg = *g_registry;
    auto it = std::find_if(reg.rbegin(), reg.rend(), [qo](const LiveInterpreter& e) { return e.qo == qo; });
    if (it != reg.rend())
        reg.erase(std::next(it).base());
    else if (!reg.empty())
        reg.erase(reg.begin());
    if (reg.empty()) {
        delete g_registry;
        g_registry = nullptr;
    }
}

}  // namespace

bool IsLiveInterpreter(const CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return Find(qo) != nullptr;
}

bool IsLiveInterpreter(const CQoLanguage* qo, uint64_t serial) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const LiveInterpreter* entry = Find(qo);
    return entry && entry->serial == serial;
}

uint64_t InterpreterSerial(const CQoLanguage* qo) {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const LiveInterpreter* entry = Find(qo);
    return entry ? entry->serial : 0;
}

std::vector<CQoLanguage*> LiveInterpreters() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    std::vector<CQoLanguage*> live;
    if (g_registry)
        for (const LiveInterpreter& entry : *g_registry) live.push_back(const_cast<CQoLanguage*>(entry.qo));
    return live;
}

CQoLanguage* SharedInterpreter() {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return g_shared;
}

void CreateSharedInterpreter() {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        if (g_shared) return;
    }
    CQoLanguage* created = new CQoLanguage();  // registers itself: not under the lock
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        if (!g_shared) {
            g_shared = created;
            return;
        }
    }
    delete created;  // another thread was quicker
}

void DestroySharedInterpreter() {
    CQoLanguage* shared;
    CQoLanguage** numbered;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        shared = g_shared;
        g_shared = nullptr;
        numbered = g_numbered;
        g_numbered = nullptr;
    }
    delete shared;
    if (!numbered) return;
    for (int slot = 0; slot < 10; ++slot) delete numbered[slot];
    delete[] numbered;
}

CQoLanguage* NumberedInterpreter(int slot) {
    if (slot < 0 || slot > 9) return nullptr;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        if (!g_numbered) g_numbered = new CQoLanguage*[10]();
        if (g_numbered[slot]) return g_numbered[slot];
    }
    CQoLanguage* created = new CQoLanguage();
    CQoLanguage* surplus = nullptr;
    CQoLanguage* result;
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        if (!g_numbered[slot])
            g_numbered[slot] = created;
        else
            surplus = created;
        result = g_numbered[slot];
    }
    delete surplus;
    return result;
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
    Register(this);
    m_pRun = new QoLRunContext(this);
    Do("clear", nullptr);
}

CQoLanguage::~CQoLanguage() {
    ForgetErrorSite(this);
    delete m_pRun;
    m_pRun = nullptr;
    delete m_pVars;
    m_pVars = nullptr;
    Unregister(this);
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
