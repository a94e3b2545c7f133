# Route modules: each defines register(router); see ../README.md.
