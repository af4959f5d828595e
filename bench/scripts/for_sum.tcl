set s 0
for {set i 0} {$i < 1000000} {incr i} { set s [expr {$s + $i}] }
puts $s
