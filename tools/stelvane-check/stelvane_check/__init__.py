"""stelvane-check: a site's periodic check of its nodes with Slurm: run the
benchmark one rank a node, keep the result file, judge it with
stelvane-report and drain what is slow (stelvane-check(1))."""
