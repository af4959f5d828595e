set s ""
for {set i 0} {$i < 20000} {incr i} { set s "${s}x" }
puts [expr {$s eq [string repeat x 20000]}]
