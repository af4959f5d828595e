set s 0
for {set i 0} {$i < 200000} {incr i} {
    set s [expr {$s + abs(int([scan [format %.15g [expr {$i * -1.5}]] %g]))}]
}
puts $s
