proc add {a b} { return [expr {$a + $b}] }
set s 0
for {set i 0} {$i < 100000} {incr i} { set s [add $s $i] }
puts $s
