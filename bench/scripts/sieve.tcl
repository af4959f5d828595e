set n 300000
set p {}
for {set i 0} {$i <= $n} {incr i} { lappend p 1 }
set c 0
for {set i 2} {$i <= $n} {incr i} {
    if {[lindex $p $i]} {
        incr c
        for {set j [expr {$i * $i}]} {$j <= $n} {incr j $i} { lset p $j 0 }
    }
}
puts $c
