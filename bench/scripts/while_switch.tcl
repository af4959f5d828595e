set i 0; set n 0
while {$i < 300000 && $n >= 0} {
    switch [expr {$i % 4}] {
        0 { set n [expr {$n + 1}] }
        1 { set n [expr {$n + 2}] }
        default { set n [expr {$n + 3}] }
    }
    incr i
}
puts $n
