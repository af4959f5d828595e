set n 60
for {set i 0} {$i < $n} {incr i} {
    for {set j 0} {$j < $n} {incr j} { set a($i,$j) [expr {$i + $j}]; set b($i,$j) [expr {$i - $j}] }
}
for {set i 0} {$i < $n} {incr i} {
    for {set j 0} {$j < $n} {incr j} {
        set s 0
        for {set k 0} {$k < $n} {incr k} { set s [expr {$s + $a($i,$k) * $b($k,$j)}] }
        set m($i,$j) $s
    }
}
set t 0
for {set i 0} {$i < $n} {incr i} { for {set j 0} {$j < $n} {incr j} { set t [expr {$t + $m($i,$j) * ($i + 1)}] } }
puts $t
