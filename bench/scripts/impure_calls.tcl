set total 0
proc bump {x} {
    global total
    set t [expr {$x % 7}]
    set total [expr {$total + $t}]
    return $t
}
for {set i 0} {$i < 300000} {incr i} { bump $i }
puts $total
