# Python twin of bench/pattern_bench.cpp, for scale: 100 000 matches of the
# same mix of patterns (as regular expressions) against the same 1 000 rows.
# Run by hand: python3 bench/scripts/pattern_match.py
import re
import time

surnames = "张王李赵刘陈杨黄"
given = "伟芳娜敏静丽强磊"
codes = ["AB", "CX", "ZZ", "QOL", "DB"]
rows = []
for i in range(1000):
    rows.append(surnames[i % 8] + given[(i // 8) % 8] + given[(i // 3) % 8] + " " + codes[i % 5]
                + "-" + str(1000 + (i * 37) % 9000) + (" 北京" if i % 4 == 0 else " 上海"))

# The patterns of the C++ benchmark, in the same order:
#   *北京   张*   ??? AB-%*   *-1###*   *QOL*;*DB*   !李*   *cx-%*   王?? ZZ-#### 上海
patterns = [
    re.compile(r".*北京"),
    re.compile(r"张.*"),
    re.compile(r"... AB-\d+.*"),
    re.compile(r".*-1\d\d\d.*"),
    re.compile(r".*QOL.*|.*DB.*"),
    re.compile(r"(?!李).*"),
    re.compile(r".*cx-\d+.*", re.IGNORECASE),
    re.compile(r"王.. ZZ-\d\d\d\d 上海"),
]

matches = 100000
start = time.perf_counter()
hits = 0
for k in range(matches):
    if patterns[k % len(patterns)].fullmatch(rows[k % len(rows)]):
        hits += 1
seconds = time.perf_counter() - start
print(f"pattern_match.py: {matches} matches, {100.0 * hits / matches:.1f}% hits, "
      f"{seconds:.3f} s ({1e6 * seconds / matches:.2f} us/match)")
