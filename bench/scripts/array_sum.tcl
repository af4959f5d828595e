for {set i 0} {$i < 20000} {incr i} { set a($i) $i }
set s 0
for {set i 0} {$i < 20000} {incr i} { set s [expr {$s + $a($i)}] }
puts $s
