! Writes the arrays of a binary field file (format 0) again as list-directed text with
! WRITE(7,*), in the statement layout of format 1 or of format 2: the reference for the speed of
! list-directed output of the Fortran runtime. Layout 0 writes the same nine statements as
! unformatted records, the same run without the text formatting.
!     list_write BINARY_FILE OUTPUT_FILE LAYOUT      (LAYOUT 0, 1 or 2)
program list_write
  implicit none
  integer, parameter :: nx = 25, ny = 25, nz = 201
  real(8) :: d_elm, aper
  integer :: k_s_EH, ksym_x, ksym_y, ksym_z, kend_mark, layout, i, j, k
  real(8) :: x_grid(nx), y_grid(ny), z_grid(nz)
  real(8), allocatable :: Ex(:,:,:), Ey(:,:,:), Ez(:,:,:)
  character(len=256) :: binary_file, text_file, arg

  call get_command_argument(1, binary_file)
  call get_command_argument(2, text_file)
  call get_command_argument(3, arg)
  read (arg, *) layout
  allocate (Ex(nx, ny, nz), Ey(nx, ny, nz), Ez(nx, ny, nz))

  open (8, file=trim(binary_file), status='old', form='unformatted')
  read (8) d_elm, aper, k_s_EH
  read (8) ksym_x, ksym_y, ksym_z
  read (8) x_grid
  read (8) y_grid
  read (8) z_grid
  read (8) Ex
  read (8) Ey
  read (8) Ez
  read (8) kend_mark
  close (8)

  if (layout == 0) then
    open (7, file=trim(text_file), status='unknown', form='unformatted')
    write (7) d_elm, aper, k_s_EH
    write (7) ksym_x, ksym_y, ksym_z
    write (7) x_grid
    write (7) y_grid
    write (7) z_grid
    write (7) Ex
    write (7) Ey
    write (7) Ez
    write (7) kend_mark
    close (7)
    stop
  end if
  open (7, file=trim(text_file), status='unknown')
  if (layout == 1) then
    write (7, *) d_elm, aper, k_s_EH
    write (7, *) ksym_x, ksym_y, ksym_z
    write (7, *) x_grid
    write (7, *) y_grid
    write (7, *) z_grid
    write (7, *) Ex
    write (7, *) Ey
    write (7, *) Ez
    write (7, *) kend_mark
  else
    write (7, *) 0
    write (7, *) ksym_x, ksym_y, ksym_z
    write (7, *) x_grid(1), x_grid(nx), nx
    write (7, *) y_grid(1), y_grid(ny), ny
    write (7, *) z_grid(1), z_grid(nz), nz
    do i = 1, nx
      do j = 1, ny
        do k = 1, nz
          write (7, *) Ex(i, j, k), Ey(i, j, k), Ez(i, j, k)
        end do
      end do
    end do
  end if
  close (7)
end program list_write
