# The linear-system solver calls the reference LAPACK and BLAS. Until the solver is built
# this is an empty interface target.
add_library(tavelo_lapack INTERFACE)
