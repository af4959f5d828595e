set s [string repeat abcdefghij 20000]
set n 0
for {set i 0} {$i < [string length $s]} {incr i} { if {[string range $s $i $i] eq "c"} { incr n } }
puts $n
