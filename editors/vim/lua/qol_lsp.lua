-- Neovim's built-in language client for QOL buffers (Neovim 0.7 and later):
--   vim.opt.runtimepath:append('/path/to/qotool/editors/vim')
--   require('qol_lsp').setup()                 -- or setup({ cmd = { '/path/to/qol', '--lsp' } })
-- One `qol --lsp` serves every QOL buffer of the session.
local M = {}

function M.setup(options)
  options = options or {}
  local cmd = options.cmd or { 'qol', '--lsp' }
  local client_id = nil
  local group = vim.api.nvim_create_augroup('qol_lsp', { clear = true })
  vim.api.nvim_create_autocmd('FileType', {
    group = group,
    pattern = 'qol',
    callback = function(event)
      if client_id == nil or vim.lsp.get_client_by_id(client_id) == nil then
        client_id = vim.lsp.start_client({
          name = 'qol',
          cmd = cmd,
          root_dir = vim.fn.getcwd(),
          on_attach = options.on_attach,
        })
      end
      if client_id then
        vim.lsp.buf_attach_client(event.buf, client_id)
      end
    end,
  })
end

return M
