// The variable store, driven through DoVariable with the value members set
// by hand. Narrow literals are GBK; failures print texts as UTF-8.
#include "engine/var_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/debugger_seam.h"
#include "engine/executor.h"
#include "engine/run_context.h"
#include "engine/var_tables.h"
#include "platform/encoding.h"
#include "platform/string_block.h"
#include "qotool/qolanguage.h"

namespace qotool::engine {
namespace {

std::string Utf8(const char* gbk) { return platform::GbkToUtf8(gbk ? gbk : "", true); }
std::string Utf8(const CString& gbk) { return platform::GbkToUtf8(gbk.view(), true); }

class VarStoreTest : public ::testing::Test {
public:
    void SetUp() override { ClearSystemStore(); }
    void TearDown() override {
        ClearSystemStore();
        diag::g_debugSwitch = 0;
    }

    QoLVarDefine* SetNumber(const char* name, double value, CQoLanguage* on = nullptr) {
        CQoLanguage* q = on ? on : &qo;
        q->m_cType = 'N';
        q->m_dValue = value;
        return DoVariable(q, name, 'N', 'B');
    }
    QoLVarDefine* SetString(const char* name, const char* text) {
        qo.m_cType = 'S';
        qo.m_strValue = text;
        return DoVariable(&qo, name, 'S', 'B');
    }
    // The statement #name=text as the evaluator records it.
    QoLVarDefine* Define(const char* name, const char* text) {
        qo.m_strValue = CString("#") + name + "=" + text;
        return DoVariable(&qo, name, text[0] == '#' ? '&' : '#', 'B');
    }
    QoLVarDefine* Read(const char* name, CQoLanguage* on = nullptr) {
        return DoVariable(on ? on : &qo, name, 0, 'B');
    }
    double ReadNumber(const char* name) {
        EXPECT_NE(Read(name), nullptr) << name;
        EXPECT_EQ(qo.m_cType, 'N') << name;
        return qo.m_dValue;
    }
    // A block as the executor opens and closes one.
    void OpenBlock() {
        ++qo.m_nScopeLevel;
        auto& table = qo.m_scopeTable;
        if ((int)table.size() < qo.m_nScopeLevel + 2) table.resize((size_t)qo.m_nScopeLevel + 2);
        table[(size_t)qo.m_nScopeLevel + 1] = table[(size_t)qo.m_nScopeLevel];
    }
    void CloseBlock() {
        --qo.m_nScopeLevel;
        const auto& start = qo.m_scopeTable[(size_t)qo.m_nScopeLevel + 1];
        qo.m_pVars->CutBack(start.first, start.second);
    }
    std::string Error() const { return Utf8(qo.m_strError); }

    CQoLanguage qo;
};

struct RefusalCase {
    const char* title;
    std::function<void(VarStoreTest&, CQoLanguage&)> setup;
    const char* name;
    char op;
    const char* message;
};

TEST_F(VarStoreTest, EveryRefusalHasItsMessage) {
    const double inf = std::numeric_limits<double>::infinity();
    auto none = [](VarStoreTest&, CQoLanguage&) {};
    auto number = [](double v) {
        return [v](VarStoreTest&, CQoLanguage& q) {
            q.m_cType = 'N';
            q.m_dValue = v;
        };
    };
    auto grid = [](VarStoreTest& t, CQoLanguage&) { t.SetNumber("a[1][2]", 1); };
    const std::vector<RefusalCase> cases = {
        {"whole array assigned", number(1), "a[]", 'N', "数组元素 a[] 的行号不能为负数  -1"},
        {"read column", grid, "a[0][3]", 0, "数组元素 a[0][3] 的列号超界（合法列号0~2）"},
        {"read whole array", grid, "a[]", 0, "数组元素 a[] 的行号超界（合法行号0~1）"},
        {"decrement an empty cell", grid, "a[0][0]", '-', "++/--操作不能针对非数值型数组元素：a[0][0]"},
        {"empty name", none, "", 0, "变量名不能为空"},
        {"name of blanks", none, " \t@", 'N', "变量名不能为空"},
        {"cell without array name", number(1), "[3]", 'N', "变量名不能为空"},
        {"system variable as link", none, "system_count", '&',
         "系统变量 system_count 跨实例全局共享，不能进行private声明或被其他变量链接"},
        {"link to a system variable",
         [](VarStoreTest& t, CQoLanguage&) { t.Define("c", "#system_n"); }, "c", 0,
         "系统变量 system_n 跨实例全局共享，不能进行private声明或被其他变量链接"},
        {"link target defined later",
         [](VarStoreTest& t, CQoLanguage&) {
             t.Define("c", "#zz");
             t.SetNumber("zz", 1);
         },
         "c", 0, "c 变量试图链接一个先前不存在的变量 zz"},
        {"fixed array, other type",
         [](VarStoreTest&, CQoLanguage& q) {
             q.m_cType = 'S';
             q.m_strValue = "x";
         },
         "n#v[0]", 'S', "固态全局数组元素 n#v[0] 不能赋值为 S 型"},
        {"fixed array, current type",
         [](VarStoreTest&, CQoLanguage& q) {
             q.m_cType = 'N';
             q.m_dValue = 1;
         },
         "S#v[0]", 'a', "固态全局数组元素 S#v[0] 不能赋值为 N 型"},
        {"read-only mode",
         [](VarStoreTest&, CQoLanguage& q) {
             q.m_modeFlags |= 0x10;
             q.m_cType = 'N';
         },
         "x", 'N', "不能改写、新建和移去变量、数组或字段"},
        {"read-only mode, removal", [](VarStoreTest&, CQoLanguage& q) { q.m_modeFlags |= 0x10; }, "x", 'd',
         "不能改写、新建和移去变量、数组或字段"},
        {"infinite number", number(inf), "x", 'N', "数值范围超界"},
        {"storage exhausted", number(1), "a[100000000][0]", 'N',
         "a[100000000][0] QOL变元操作失败，可能是变元操作越界或存储体被破坏"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.title);
        qo.Do("clear", nullptr);
        ClearSystemStore();
        c.setup(*this, qo);
        EXPECT_EQ(DoVariable(&qo, c.name, c.op, 'B'), nullptr);
        EXPECT_EQ(qo.m_cType, 'X');
        EXPECT_EQ(Error(), Utf8(c.message));
        EXPECT_EQ(qo.m_pRun->catchDepth, 0);
    }
}

TEST_F(VarStoreTest, LinksAreFollowedOneLevel) {
    SetNumber("b", 5);
    QoLVarDefine* link = Define("a", "#b");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetType(), '&');
    EXPECT_EQ(std::string(link->m_strName), "a");
    EXPECT_EQ(std::string(link->GetDef()), "#a=#b");

    EXPECT_EQ(ReadNumber("a"), 5);
    SetNumber("a", 7);
    EXPECT_EQ(ReadNumber("b"), 7);
    EXPECT_EQ(DoVariable(&qo, "a", 0, 0), DoVariable(&qo, "b", 0, 0));

    // c links to a, which is itself a link: c gives the link a as it is.
    Define("c", "#a");
    ASSERT_NE(Read("c"), nullptr);
    EXPECT_EQ(qo.m_cType, '&');
    EXPECT_EQ(std::string(qo.m_strValue), "#a=#b");

    // A link to an array cell.
    SetNumber("t[1][1]", 9);
    Define("e", "#t[1][1]");
    EXPECT_EQ(ReadNumber("e"), 9);

    // A private declaration that meets a link during a syntax check does nothing.
    qo.m_bSyntaxCheck = 1;
    EXPECT_EQ(DoVariable(&qo, "a", 'z', 'B'), nullptr);
    qo.m_bSyntaxCheck = 0;
    EXPECT_NE(qo.m_cType, 'X');
}

struct Notification {
    int kindTimesFactor;
    CQoLanguage* interpreter;
    intptr_t pointer;
    std::string extType;
};
std::vector<Notification> g_notifications;

void RecordChange(int kindTimesFactor, CQoLanguage* interpreter, intptr_t pointer, const char* extType) {
    g_notifications.push_back({kindTimesFactor, interpreter, pointer, extType});
}
void ThrowingChange(int, CQoLanguage*, intptr_t, const char*) { throw 1; }

TEST_F(VarStoreTest, ValueChangeRecordsNotifyTheirOwner) {
    g_notifications.clear();
    qo.m_cType = 'N';
    EXPECT_EQ(qo.SetVariableValueChangeEvent(7, (void*)&RecordChange), 0);

    qo.m_cType = 'P';
    qo.m_pValue = 1234;
    qo.m_strExtType = "%mem";
    ASSERT_EQ(qo.SetVariableValueChangeEvent(7, (void*)&RecordChange), 1);
    EXPECT_STREQ(qo.GetValueExtType(), "%mem");  // the record is hidden from text readers
    QoLVarDefine* h = DoVariable(&qo, "h", 'P', 'B');
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(g_notifications.size(), 1u);
    EXPECT_EQ(g_notifications[0].kindTimesFactor, 7);
    EXPECT_EQ(g_notifications[0].interpreter, &qo);
    EXPECT_EQ(g_notifications[0].pointer, 1234);
    EXPECT_EQ(g_notifications[0].extType, "%mem");

    DoVariable(&qo, "h", 'P', 'B');  // the same pointer again: no change
    EXPECT_EQ(g_notifications.size(), 1u);

    SetNumber("h", 0);
    ASSERT_EQ(g_notifications.size(), 2u);
    EXPECT_EQ(g_notifications[1].kindTimesFactor, -7);
    EXPECT_EQ(g_notifications[1].pointer, 1234);

    // What a callback throws is ignored.
    qo.m_cType = 'P';
    qo.m_pValue = 99;
    qo.m_strExtType = "%dll";
    qo.SetVariableValueChangeEvent(2, (void*)&ThrowingChange);
    EXPECT_NE(DoVariable(&qo, "k", 'P', 'B'), nullptr);
    EXPECT_NE(qo.m_cType, 'X');
}

TEST_F(VarStoreTest, ASyntaxCheckKeepsDeclarationsInsideTheCheckedBlock) {
    // What public and delete do in scripts is in variable_store.cases.
    SetNumber("a", 1);
    OpenBlock();
    OpenBlock();
    ASSERT_NE(DoVariable(&qo, "pub", 'g', 'B'), nullptr);
    CloseBlock();
    CloseBlock();
    EXPECT_EQ(qo.m_scopeTable[1], std::make_pair(2, 0));

    // Inside a syntax check the public scope is the checked block, and
    // delete stops at it.
    qo.m_pRun->checkLevel = 1;
    OpenBlock();
    OpenBlock();
    DoVariable(&qo, "checked", 'g', 'B');
    EXPECT_EQ(DoVariable(&qo, "a", 'd', 'B'), nullptr);
    CloseBlock();
    EXPECT_NE(Read("checked"), nullptr);
    CloseBlock();
    EXPECT_EQ(Read("checked"), nullptr);
    qo.m_pRun->checkLevel = 0;
    EXPECT_EQ(ReadNumber("a"), 1);
}

TEST_F(VarStoreTest, ArraysGrowAroundStableCells) {
    QoLVarDefine* first = SetNumber("a[0][0]", 1);
    ASSERT_NE(first, nullptr);
    SetNumber("a[5][200]", 2);
    SetNumber("a[1,3]", 3);  // the comma form names the same cell as a[1][3]
    EXPECT_EQ(DoVariable(&qo, "a[0][0]", 0, 0), first);
    EXPECT_EQ(ReadNumber("a[0][0]"), 1);
    EXPECT_EQ(ReadNumber("a[1][3]"), 3);
    ASSERT_NE(Read("a[3][3]"), nullptr);
    EXPECT_EQ(qo.m_cType, 'Z');  // new cells start empty
    EXPECT_EQ(qo.m_pVars->arrays[0]->Rows(), 6);
    EXPECT_EQ(qo.m_pVars->arrays[0]->Columns(), 201);

    EXPECT_NE(DoVariable(&qo, "a", 'r', 'B'), nullptr);
    EXPECT_EQ(Read("a[0][0]"), nullptr);
    EXPECT_FALSE(IsLiveRecord(&qo, first));

    // A declared array with no cells; a fixed one whose cells have its type.
    EXPECT_NE(DoVariable(&qo, "e[]", 'z', 'B'), nullptr);
    EXPECT_EQ(Read("e[0]"), nullptr);
    EXPECT_EQ(Error(), Utf8("数组元素 e[0] 的行号超界（合法行号0~-1）"));
    SetNumber("n#f[2]", 8);
    ASSERT_NE(Read("n#f[1]"), nullptr);
    EXPECT_EQ(qo.m_cType, 'N');
    EXPECT_EQ(qo.m_dValue, 0);
}

TEST_F(VarStoreTest, NamesLoseBlanksAndAtSignsButNotTrailBytes) {
    SetNumber(" a b\t@", 1);
    EXPECT_EQ(ReadNumber("ab"), 1);
    EXPECT_EQ(ReadNumber("@a@b"), 1);
    // 丂 is the GBK pair 0x81 0x40: its trail byte is '@' and must stay.
    SetNumber("丂", 2);
    SetNumber("\x81", 3);
    EXPECT_EQ(ReadNumber("丂"), 2);
    EXPECT_EQ(ReadNumber("\x81"), 3);
    // 乕 is 0x81 0x5B: its trail byte is '[' and does not start a subscript.
    SetNumber("乕", 4);
    EXPECT_EQ(qo.m_pVars->arrays.size(), 0);
    EXPECT_EQ(ReadNumber("乕"), 4);
}

TEST_F(VarStoreTest, TheDebuggerSeesTheLastVariableTouched) {
    diag::g_debugSwitch = 1;
    SetString("s", "abc");
    EXPECT_EQ(std::string(qo.m_pRun->undefinedNames), "s=S:abc");
    RecordUndefinedName(&qo, "q");
    EXPECT_EQ(Utf8(qo.m_pRun->undefinedNames), Utf8("q=X:※未定义"));

    // During a syntax check the text is the check's list of undefined names.
    qo.m_bSyntaxCheck = 1;
    qo.m_pRun->undefinedNames = "0,";
    SetNumber("x", 1);
    RecordUndefinedName(&qo, "q");
    RecordUndefinedName(&qo, "r");
    RecordUndefinedName(&qo, "q");
    EXPECT_EQ(std::string(qo.m_pRun->undefinedNames), "0,q,r,");
    qo.m_bSyntaxCheck = 0;
}

TEST_F(VarStoreTest, LiveRecordsAreRecognised) {
    QoLVarDefine* x = SetNumber("x", 1);
    OpenBlock();
    QoLVarDefine* y = SetNumber("y", 1);
    QoLVarDefine* cell = SetNumber("c[1][1]", 1);
    QoLVarDefine* sys = SetNumber("system_v", 1);
    EXPECT_TRUE(IsLiveRecord(&qo, x));
    EXPECT_TRUE(IsLiveRecord(&qo, y));
    EXPECT_TRUE(IsLiveRecord(&qo, cell));
    EXPECT_TRUE(IsLiveRecord(&qo, sys));
    EXPECT_FALSE(IsLiveRecord(&qo, reinterpret_cast<void*>(123)));
    SetNumber("tmp", 1);
    EXPECT_FALSE(IsLiveRecord(&qo, DoVariable(&qo, "tmp", 'r', 'B')));  // a removal's marker
    CloseBlock();
    EXPECT_FALSE(IsLiveRecord(&qo, y));
    EXPECT_FALSE(IsLiveRecord(&qo, cell));
}

// The hash index against a plain last-to-first scan, over random appends,
// insertions, removals, cut-backs and renames.
TEST(VarStoreIndexTest, AgreesWithALinearScan) {
    const char* const pool[] = {"a", "b", "c", "d", "ab", "ba", "x1", "x2"};
    std::mt19937 random(12345);
    auto pick = [&](int n) { return (int)(random() % (unsigned)n); };
    IndexedTable<QoLVarDefine> table;
    std::vector<std::string> model;
    for (int step = 0; step < 4000; ++step) {
        const int n = (int)model.size();
        const char* name = pool[pick(8)];
        switch (pick(n > 40 ? 6 : 3)) {
        case 0:
        case 1:
            table.Append(std::make_unique<QoLVarDefine>(name, 'Z', CString()));
            model.push_back(name);
            break;
        case 2: {
            const int pos = pick(n + 1);
            table.Insert(pos, std::make_unique<QoLVarDefine>(name, 'Z', CString()));
            model.insert(model.begin() + pos, name);
            break;
        }
        case 3:
            if (n) {
                const int pos = pick(n);
                table.Erase(pos);
                model.erase(model.begin() + pos);
            }
            break;
        case 4: {
            const int keep = n - pick(std::min(n, 20) + 1);
            table.Truncate(keep);
            model.resize((size_t)keep);
            break;
        }
        default:
            if (n) {
                const int pos = pick(n);
                table.Rename(pos, CString(name));
                model[(size_t)pos] = name;
            }
            break;
        }
        ASSERT_EQ(table.size(), (int)model.size());
        for (const char* probe : pool) {
            const int m = (int)model.size();
            const int lower = pick(m + 1), end = pick(m + 2);
            int expected = -1;
            for (int i = std::min(end, m) - 1; i >= lower; --i)
                if (model[(size_t)i] == probe) {
                    expected = i;
                    break;
                }
            ASSERT_EQ(table.FindLast(probe, lower, end), expected)
                << "step " << step << " name " << probe << " in [" << lower << "," << end << ")";
        }
    }
}

// A string grown in place by `s = s + ...` whose store never comes (an
// interrupt ending the run between the sum and the store) gets its old
// length back, in the block it had.
TEST_F(VarStoreTest, AStringGrownForAStoreThatNeverComesIsCutBack) {
    SetString("s", "abc");
    QoLVarDefine* record = Read("s");
    qo.m_strValue.Empty();
    CString& text = record->m_strDef;
    platform::ReserveGrowing(text, 8);
    const char* block = text.c_str();
    char source[] = "s + 'de'";
    char* cursor = source;
    {
        PendingAssignment pending(&qo, cursor, "s");
        ASSERT_TRUE(platform::AppendInPlace(text, "de", 2));
        pending.grown = record;
        pending.grownText = text.c_str();
        pending.lengthBefore = 3;
    }
    EXPECT_EQ(block, text.c_str());
    EXPECT_EQ("abc", std::string(text.c_str(), (size_t)text.GetLength()));
    EXPECT_EQ(0, text.c_str()[3]);
}

}  // namespace
}  // namespace qotool::engine
