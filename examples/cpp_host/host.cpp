// A C++17 host through <qotool/qotool.hpp>: a host function as a lambda
// with its own state, a call into the script, and an error caught as an
// exception because this host asked for them.
//
//   c++ -std=c++17 host.cpp $(pkg-config --cflags --libs qotool) -o host
#include <cstdio>
#include <map>
#include <string>

#include <qotool/qotool.hpp>

int main() {
    qotool::Interp qo(qotool::Errors::Throw);
    std::map<std::string, double> stock = {{"apple", 12}, {"pear", 3}};
    qo.Register("stock", [&stock](qotool::Args& args) -> qotool::Value {
        auto found = stock.find(std::string(args.Text(0)));
        if (found == stock.end()) throw std::runtime_error("unknown item " + std::string(args.Text(0)));
        return found->second;
    });
    qo.Eval("#order(item, n) { left = stock(item) - n; return left >= 0 ? left : 0; }", "shop.qol");
    std::printf("apples left: %g\n", qo.Call("order", {"apple", 5}).number);
    try {
        qo.Eval("a = 1;\nb = stock('plum');", "order.qol");
    } catch (const qotool::Error& e) {
        std::printf("%s:%d:%d: %s\n", e.fileName.c_str(), e.line, e.column, e.message.c_str());
    }
    return 0;
}
