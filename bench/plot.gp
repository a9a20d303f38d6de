# Throughput and latency of the three readers, from bench/report/figures.txt.
# gnuplot -e "figures='...'; output='...'" bench/plot.gp
set terminal pngcairo size 1100,480 font "sans,10"
set output output
set multiplot layout 1,2 title "Report path on one emulated tablet (same run)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set boxwidth 0.9
set grid ytics
set yrange [0:*]
set title "Throughput, none lost"
set ylabel "reports per second"
plot "< awk '$1 ~ /\\.throughput$/ && $1 !~ /^ratio/ {split($1, k, \".\"); print k[1], $2}' ".figures \
     using 2:xtic(1) title "" lc rgb "#3a6ea5"
set title "Latency, completed IN transfer to the reader holding the report"
set ylabel "microseconds"
set logscale y
set yrange [*:*]
plot "< awk '$1 ~ /\\.latency_median_us$/ {split($1, k, \".\"); m[k[1]] = $2} $1 ~ /\\.latency_p99_us$/ {split($1, k, \".\"); p[k[1]] = $2} END {for (n in m) print n, m[n], p[n]}' ".figures \
     using 2:xtic(1) title "median" lc rgb "#3a6ea5", \
     "" using 3 title "p99" lc rgb "#d08c2a"
unset multiplot
