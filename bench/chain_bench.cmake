# The chain benchmark drives the plug-in through the tests' host stand-in and
# writes its model files with the tests' model writer.
target_link_libraries(chain_bench PRIVATE plugin framework toolkit nn compat)
