set s {the quick brown fox jumps over the lazy dog}
set n 0
set k 0
set w {}
for {set i 0} {$i < 200000} {incr i} {
    set a [expr {$i % 40}]
    set w [string range $s $a [expr {$a + 2}]]
    if {[string compare [string index $w 0][string index $w end] m] < 0} { incr n }
    set v "[expr {$i % 10}]1"
    set k [expr {$k + [string first $w $s] + $v}]
    set m [expr {$i % 3}]
    if {$m < 1} { set m 1 }
    set q [expr {$i % 5}]
    if {$q > 2} { set q 2 }
    set n [expr {$n + $m - $q}]
    if {$n < 0} { set n 0 } elseif {$n > 1000} { set n 1000 }
}
puts "$n,$k"
