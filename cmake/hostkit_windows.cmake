# The host kit's window components (list control, bill viewer, the assistant's box), built
# into a module of their own that links Qt; the rest of hostkit/windows/ (the list query, the
# help assistant, the module's loader) loads no Qt and stays in the host kit itself. Paths
# are relative to the source root; the fuzz build reads this list too.
set(ORBA_HOSTKIT_WINDOW_FILES
    hostkit/windows/list_model.cpp hostkit/windows/list_widget.cpp hostkit/windows/list_control.cpp
    hostkit/windows/bill_reader.cpp hostkit/windows/bill_viewer_dialog.cpp hostkit/windows/bill_viewer.cpp
    hostkit/windows/assistant_box.cpp hostkit/windows/windows_module.cpp)
