# A list of 1 000 rules (a numeric range and two string alternatives each)
# scanned in order, 10 000 lookups, hits and misses mixed; sums the rows
# found (numbered from 2, as in the QOL table) and the outputs of the hits.
set rules {}
for {set i 0} {$i < 1000} {incr i} {
    lappend rules [list [expr {$i * 10}] [expr {$i * 10 + 9}] [list a[expr {$i % 7}] b[expr {$i % 5}]] $i]
}
proc locate {n k} {
    set row 2
    foreach r $::rules {
        lassign $r lo hi texts value
        if {$n >= $lo && $n <= $hi && $k in $texts} { return [list $row $value] }
        incr row
    }
    return [list -1 0]
}
set t 0
for {set j 0} {$j < 10000} {incr j} {
    lassign [locate [expr {($j * 37) % 10000}] a[expr {$j % 7}]] row value
    if {$row > 0} { set t [expr {$t + $row + $value}] }
}
puts $t
