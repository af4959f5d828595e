set s 0
for {set i 0} {$i < 300000} {incr i} { set s [expr {$s + abs(0 - $i) + int($i / 3.0)}] }
puts $s
