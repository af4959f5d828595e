set s ""
for {set i 0} {$i < 20000} {incr i} { append s abcdefghij }
set n 0
for {set i 0} {$i < [string length $s]} {incr i} { if {[string range $s $i $i] eq "c"} { incr n } }
puts $n
