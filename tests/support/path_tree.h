// A hermetic file tree for path, file and registry tests. While it lives:
//
//   drive C: ($QO_DRIVE_C) is <tmp>/c; the work directory is C:\P\Q\R\ here
//     P\a.ini  P\Q\R\{a.TXT,b.txt,c.ini,r.ini,ro.txt (read-only)}
//     P\Q\R\SUB\{a.ini,s.txt}  P\Q\R\SUB\DEEP\d.txt  P\Q\R\QUIT\q.ini
//     CUR\{cur.ini, SUB\a.ini}                the current directory
//     WIN\win.ini  WIN\SYS\sys.ini            $QO_WINDOWS_DIR, $QO_SYSTEM_DIR
//     Z1\z.ini  Z2\z2.ini  Z2\SUB\z.ini      "ZIVavuDara" = C:\Z1;c:\z2
//   HOME, XDG_CONFIG_HOME under <tmp>/home; QO_HOST_PATH, QO_FS_ENCODING and
//   the display variables unset (the clipboard is the process's own);
//   QO_REGISTRY = <tmp>/fixture.reg (see path_tree.cpp for its keys).
//
// Every file holds its own name as text. The destructor puts back the
// environment and the current directory and removes the tree.
#ifndef QOTOOL_TESTS_SUPPORT_PATH_TREE_H
#define QOTOOL_TESTS_SUPPORT_PATH_TREE_H

#include <memory>
#include <string>
#include <vector>

#include "support/temp_env.h"

namespace qotool::test {

class PathTree {
public:
    PathTree();
    ~PathTree();
    // The file-system path of a file on drive C: ("P/a.ini").
    std::string DrivePath(const std::string& relative) const { return folder_.path() + "/c/" + relative; }
    const TempDir& folder() const { return folder_; }

private:
    TempDir folder_;
    std::vector<std::unique_ptr<EnvironmentVariable>> environment_;
    std::unique_ptr<CurrentDirectory> current_;
};

}  // namespace qotool::test

#endif
