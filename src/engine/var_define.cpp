#include "qotool/qolvardefine.h"

char QoLVarDefine::GetType() { return m_cType; }
CString QoLVarDefine::GetDef() { return m_strDef; }
