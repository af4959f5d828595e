set s 0
for {set i 0} {$i < 100000} {incr i} { set s [expr {$s + abs(-5)}] }
puts $s
