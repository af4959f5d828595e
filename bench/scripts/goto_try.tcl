set i 0; set n 0
while {$i < 100000} {
    incr i
    if {$i % 2 == 0} { incr n }
    if {[catch { if {$i % 10 == 0} { expr {1 / 0} }; incr n }]} { incr n -1 }
}
puts $n
